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
    float* depths = depthMm.data() + static_cast<std::size_t>(count) * pixels;
    for (std::size_t k = 0; k < pixels; ++k) {
        float x = points[4 * k];
        float y = points[4 * k + 1];
        float z = points[4 * k + 2];
        if (!(z > 0.0f) || !std::isfinite(x) || !std::isfinite(y))
            continue;
        removed.addTo(x, y, z);
        depths[k] = z * kMmPerMetre;
        if (std::isnan(unitRays[2 * k])) {
            unitRays[2 * k] = x / z;
            unitRays[2 * k + 1] = y / z;
        }
    }
    ++count;
}

// Pixels are taken in tiles, so that each frame's depths are read in runs.
std::vector<float> DepthStack::stillDepthMm() const
{
    constexpr std::size_t kTile = 256;
    const std::size_t pixels = static_cast<std::size_t>(columns) * rows;
    std::vector<float> still(pixels, 0.0f);
    std::vector<float> tile(kTile * static_cast<std::size_t>(std::max(count, 1)));
    std::vector<std::size_t> counts(kTile);
    const std::size_t needed = std::max<std::size_t>(1, (static_cast<std::size_t>(count) + 1) / 2);
    for (std::size_t begin = 0; begin < pixels; begin += kTile) {
        const std::size_t end = std::min(pixels, begin + kTile);
        std::fill(counts.begin(), counts.end(), 0);
        for (std::int32_t f = 0; f < count; ++f) {
            const float* depths = depthMm.data() + static_cast<std::size_t>(f) * pixels;
            for (std::size_t k = begin; k < end; ++k)
                if (depths[k] > 0.0f)
                    tile[(k - begin) * count + counts[k - begin]++] = depths[k];
        }
        for (std::size_t k = begin; k < end; ++k) {
            const std::size_t n = counts[k - begin];
            if (n < needed)
                continue;
            float* measured = tile.data() + (k - begin) * count;
            // The median first, then each quartile within its half.
            // (the upper one from past the median, which stays where the first step put it).
            std::nth_element(measured, measured + n / 2, measured + n);
            const float median = measured[n / 2];
            std::nth_element(measured, measured + n / 4, measured + n / 2);
            std::nth_element(measured + n / 2 + 1, measured + (3 * n) / 4, measured + n);
            if (measured[(3 * n) / 4] - measured[n / 4] <= kMaxStillSpreadMm + kStillSpreadPerMm * median)
                still[k] = median;
        }
    }
    return still;
}

} // namespace tavorin
