#include "acquisition/model/PinholeParameters.h"

namespace tavorin {

std::vector<float> pinholeParameters(const k4a_calibration_t& calibration)
{
    constexpr float kPixelCentre = 0.5f;
    const auto& p = calibration.depth_camera_calibration.intrinsics.parameters.param;
    return {p.cx + kPixelCentre, p.cy + kPixelCentre, p.fx, p.fy, p.k1, p.k2, p.k3, p.k4, p.k5, p.k6,
            p.codx, p.cody, p.p2, p.p1};
}

} // namespace tavorin
