#include "acquisition/model/DepthIntrinsics.h"

namespace tavorin {

std::optional<DepthIntrinsics> depthIntrinsicsOf(const std::vector<float>& p)
{
    constexpr std::size_t kPinhole = 4;
    constexpr std::size_t kWithDistortion = 14;
    constexpr double kPixelCentre = 0.5;
    if (p.size() < kPinhole)
        return std::nullopt;
    DepthIntrinsics lens;
    lens.cx = p[0] - kPixelCentre;
    lens.cy = p[1] - kPixelCentre;
    lens.fx = p[2];
    lens.fy = p[3];
    if (p.size() >= kWithDistortion) {
        // k1 .. k6 at 4 .. 9, codx and cody at 10 and 11 (zero on these devices), p2 at 12, p1 at 13.
        lens.distortion = {p[4], p[5], p[13], p[12], p[6], p[7], p[8], p[9]};
    }
    return lens;
}

} // namespace tavorin
