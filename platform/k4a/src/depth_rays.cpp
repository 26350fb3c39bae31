#include "depth_rays.h"

#include "calibration_model.h"

#include <cstddef>
#include <limits>

namespace k4a_layer {

bool depthRays(const k4a_calibration_t& calibration, int width, int height, std::vector<float>& rays)
{
    constexpr float kNoRay = std::numeric_limits<float>::quiet_NaN();
    if (width <= 0 || height <= 0)
        return false;
    rays.assign(static_cast<std::size_t>(width) * height * 2, kNoRay);
    float* ray = rays.data();
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c, ray += 2) {
            // The normalised point (X/Z, Y/Z) is the point at unit depth.
            const float pixel[2] = {static_cast<float>(c), static_cast<float>(r)};
            float normalised[2];
            if (!k4a_model::unprojectToNormalized(calibration.depth_camera_calibration, pixel, normalised))
                continue;
            ray[0] = normalised[0];
            ray[1] = normalised[1];
        }
    return true;
}

} // namespace k4a_layer
