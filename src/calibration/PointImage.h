#pragma once

#include "math/Vec4.h"

#include <cstdint>

// One camera's organised point image as the lattice detector reads it: width * height points,
// row by row (index = row * width + column), three floats x, y, z per point in metres in the
// camera's frame. The array is borrowed and only read; it must outlive every use of the image.
struct PointImage {
    const float* points = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;

    std::int32_t pixelCount() const { return width * height; }
    Vec4 at(std::int32_t index) const
    {
        const float* p = points + 3 * static_cast<std::int64_t>(index);
        return Vec4::point(p[0], p[1], p[2]);
    }
};
