#include "acquisition/model/RayTable.h"

#include <cmath>
#include <cstddef>
#include <limits>

namespace tavorin {

namespace {

struct Ray {
    float x;
    float y;
};

// The SDK's point of pixel (column, row) at depth 1 mm, or NaN where the pixel does not map. False
// when the SDK refuses the conversion.
bool unitDepthRay(const k4a_calibration_t& calibration, int column, int row, Ray& ray)
{
    constexpr float kUnitDepthMm = 1.0f;
    constexpr float kNoRay = std::numeric_limits<float>::quiet_NaN();
    k4a_float2_t pixel;
    pixel.xy = {static_cast<float>(column), static_cast<float>(row)};
    k4a_float3_t point;
    int valid = 0;
    if (K4A_FAILED(k4a_calibration_2d_to_3d(&calibration, &pixel, kUnitDepthMm, K4A_CALIBRATION_TYPE_DEPTH,
                                            K4A_CALIBRATION_TYPE_DEPTH, &point, &valid)))
        return false;
    ray = valid ? Ray{point.xyz.x, point.xyz.y} : Ray{kNoRay, kNoRay};
    return true;
}

} // namespace

bool fillRayTable(const k4a_calibration_t& calibration, RayTableY y, float* table)
{
    const int width = calibration.depth_camera_calibration.resolution_width;
    const int height = calibration.depth_camera_calibration.resolution_height;
    if (width <= 0 || height <= 0)
        return true;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t k = 0; k < pixels; ++k) {
        Ray ray;
        if (!unitDepthRay(calibration, static_cast<int>(k % width), static_cast<int>(k / width), ray))
            return false;
        table[2 * k] = ray.x;
        table[2 * k + 1] = y == RayTableY::Negated && !std::isnan(ray.y) ? -ray.y : ray.y;
    }
    return true;
}

} // namespace tavorin
