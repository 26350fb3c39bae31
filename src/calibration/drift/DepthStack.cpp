#include "calibration/drift/DepthStack.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tavorin {

namespace {

constexpr float kMmPerMetre = 1000.0f;
// A pixel's depth keeps still when the middle half of its depths spans at most this much: a few
// times the sensor's noise, and more far away, where the noise grows.
constexpr float kMaxStillSpreadMm = 8.0f;
constexpr float kStillSpreadPerMm = 0.003f;

} // namespace

DepthStack::DepthStack(std::int32_t width, std::int32_t height, std::int32_t maxFrames)
    : columns(std::max(0, width)), rows(std::max(0, height)), capacity(std::max(1, maxFrames)),
      depthMm(static_cast<std::size_t>(columns) * rows * capacity, 0.0f),
      unitRays(static_cast<std::size_t>(columns) * rows * 2, std::numeric_limits<float>::quiet_NaN())
{
}

void DepthStack::add(const float* points, const DepthCorrection& removed)
{
    if (count >= capacity || !points)
        return;
    const std::size_t pixels = static_cast<std::size_t>(columns) * rows;
    for (std::size_t k = 0; k < pixels; ++k) {
        float x = points[4 * k];
        float y = points[4 * k + 1];
        float z = points[4 * k + 2];
        if (!(z > 0.0f) || !std::isfinite(x) || !std::isfinite(y))
            continue;
        removed.addTo(x, y, z);
        depthMm[k * capacity + count] = z * kMmPerMetre;
        if (std::isnan(unitRays[2 * k])) {
            unitRays[2 * k] = x / z;
            unitRays[2 * k + 1] = y / z;
        }
    }
    ++count;
}

std::vector<float> DepthStack::stillDepthMm() const
{
    const std::size_t pixels = static_cast<std::size_t>(columns) * rows;
    std::vector<float> still(pixels, 0.0f);
    std::vector<float> measured;
    measured.reserve(capacity);
    const std::size_t needed = std::max<std::size_t>(1, (static_cast<std::size_t>(count) + 1) / 2);
    for (std::size_t k = 0; k < pixels; ++k) {
        measured.clear();
        const float* depths = depthMm.data() + k * capacity;
        for (std::int32_t f = 0; f < count; ++f)
            if (depths[f] > 0.0f)
                measured.push_back(depths[f]);
        if (measured.size() < needed)
            continue;
        const std::size_t n = measured.size();
        const auto at = [&](std::size_t i) {
            std::nth_element(measured.begin(), measured.begin() + i, measured.end());
            return measured[i];
        };
        const float median = at(n / 2);
        const float upper = at((3 * n) / 4);
        const float lower = at(n / 4);
        if (upper - lower <= kMaxStillSpreadMm + kStillSpreadPerMm * median)
            still[k] = median;
    }
    return still;
}

} // namespace tavorin
