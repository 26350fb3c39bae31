#pragma once

#include "math/Vec4.h"

#include <cstdint>

namespace tavorin {

// One camera's organised point image as the lattice detector reads it: width * height points,
// row by row (index = row * width + column), x, y, z in metres in the camera's frame at the start
// of each point's `stride` floats (3 for packed points, 4 for the depth sources' x, y, z, w
// records, which are read in place). The array is borrowed and only read; it must outlive every
// use of the image.
struct PointImage {
    const float* points = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t stride = 3; // floats from one point to the next

    std::int32_t pixelCount() const { return width * height; }
    // x, y, z of pixel `index`.
    const float* xyz(std::int32_t index) const { return points + static_cast<std::int64_t>(stride) * index; }
    Vec4 at(std::int32_t index) const
    {
        const float* p = xyz(index);
        return Vec4::point(p[0], p[1], p[2]);
    }
    // The per-pixel arithmetic of the lattice search, inline because it runs for every pixel of
    // the rows and windows the search examines. Sums run x, y, z in that order, as
    // lengthSquared and dot do, so that every threshold test answers as it would with Vec4.
    float squaredDistance(std::int32_t index, const Vec4& q) const
    {
        const float* p = xyz(index);
        const float dx = p[0] - q.x;
        const float dy = p[1] - q.y;
        const float dz = p[2] - q.z;
        return dx * dx + dy * dy + dz * dz;
    }
    float squaredDistance(std::int32_t a, std::int32_t b) const { return squaredDistance(a, at(b)); }
    // dot(at(index) - origin, axis).
    float offsetAlong(std::int32_t index, const Vec4& origin, const Vec4& axis) const
    {
        const float* p = xyz(index);
        return (p[0] - origin.x) * axis.x + (p[1] - origin.y) * axis.y + (p[2] - origin.z) * axis.z;
    }
};

} // namespace tavorin
