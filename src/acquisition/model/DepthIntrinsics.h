#pragma once

#include <array>
#include <optional>
#include <vector>

namespace tavorin {

// A depth camera's lens as the common pinhole-and-distortion description has it: focal lengths and
// principal point in pixels (pixel centres at integer coordinates), and the rational polynomial
// distortion (k1, k2, p1, p2, k3, k4, k5, k6; zeros for an ideal pinhole). What a camera info
// message carries.
struct DepthIntrinsics {
    double fx = 0.0;
    double fy = 0.0;
    double cx = 0.0;
    double cy = 0.0;
    std::array<double, 8> distortion{};
};

// A recording's per-frame camera parameters (principal point with pixel centres at +0.5, focal
// lengths, then k1..k6, codx, cody, p2, p1 when there are 14): its lens; nothing for fewer than 4.
std::optional<DepthIntrinsics> depthIntrinsicsOf(const std::vector<float>& cameraParameters);

} // namespace tavorin
