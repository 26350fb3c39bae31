#pragma once

#include <k4a/k4atypes.h>

#include <vector>

namespace tavorin {

// The per-frame camera parameters of a recording for the depth camera of `calibration`: the
// principal point with pixel centres at +0.5 (column, row), the focal lengths (pixels), then the
// distortion terms k1..k6, codx, cody, p2, p1: 14 floats.
std::vector<float> pinholeParameters(const k4a_calibration_t& calibration);

} // namespace tavorin
