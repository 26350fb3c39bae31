#pragma once

#include <cstddef>
#include <string>

namespace tavorin {

// How far registration has come for one camera since it started: in how many of the frames it
// examined the lattice was found, and its fine registration as it stands (zeros for the
// reference camera, which the others are registered onto).
struct RegistrationProgress {
    std::size_t framesFound = 0;
    std::size_t framesExamined = 0;
    bool reference = false;
    double rmsMm = 0.0; // inliers' residual, millimetres
    std::size_t correspondences = 0;
};

// The settings bar's line for camera `index`, for example "Camera 1: found 87 of 120 frames,
// RMS 1.84 mm, 2175 correspondences", or "Camera 2: plate not seen yet (12 frames)".
std::string progressLine(std::size_t index, const RegistrationProgress& progress);

} // namespace tavorin
