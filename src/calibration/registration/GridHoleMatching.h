#pragma once

#include "calibration/detection/LatticeDetectionResult.h"
#include "math/Mat4.h"

#include <vector>

namespace tavorin {

// The quiet-NaN point (w = 1) that stands for an observation a camera did not make; the aligners
// skip every correspondence that involves one.
Vec4 missingPoint();

// Per camera, in camera order: the centre hole and the point 0.2 m along the primary axis, or two
// missing points when the lattice was not found.
std::vector<std::vector<Vec4>> latticeAxisPoints(const std::vector<LatticeDetectionResult>& results);

// Per camera, in camera order: its holes in one fixed 5 x 5 grid order (row along primaryAxis,
// column along secondaryAxis, mirrored for a camera that sees the plate from the back as judged
// by the rough transforms), a missing point where no hole lies within 0.03 m of the grid position.
// Reports on standard error and returns an empty list when the inputs disagree in size or hold
// fewer than two cameras.
std::vector<std::vector<Vec4>> matchAllGridHoles_ByRoughRegistration(std::vector<Mat4> roughTransforms,
                                                                     std::vector<LatticeDetectionResult> results,
                                                                     int referenceIndex);

} // namespace tavorin
