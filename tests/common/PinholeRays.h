#pragma once

#include <cstddef>
#include <vector>

// The unit-depth rays (x / z, y / z per pixel, rows back to back) of an undistorted camera of
// `width` x `height` pixels and a focal length of `focal` pixels, its centre in the image's middle:
// what a sample view is rendered through in the tests.
inline std::vector<float> pinholeRays(int width, int height, double focal)
{
    std::vector<float> rays(std::size_t(width) * height * 2);
    for (int v = 0; v < height; ++v)
        for (int u = 0; u < width; ++u) {
            rays[2 * (std::size_t(v) * width + u)] = static_cast<float>((u + 0.5 - width / 2.0) / focal);
            rays[2 * (std::size_t(v) * width + u) + 1] = static_cast<float>((v + 0.5 - height / 2.0) / focal);
        }
    return rays;
}
