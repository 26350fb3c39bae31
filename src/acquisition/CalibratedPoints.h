#pragma once

#include <cstddef>

namespace tavorin {

// Depth (millimetres) and each pixel's unit-depth ray (x, -y of the SDK's x-right, y-down frame;
// NaN where the pixel does not map) to points in metres, x and y opposite to the image axes:
// (-tx * d, ty * d, d, 1) with d in metres. No depth or no ray: x, y, z = 0 and the fourth
// float is left as it was.
void calibratedPoints(const float* depthMm, const float* xyTable, std::size_t pixels, float* points);

} // namespace tavorin
