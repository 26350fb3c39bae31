#pragma once

#include "calibration/LatticeDetectionResult.h"
#include "calibration/PointImage.h"

// Searches one camera's point image for the calibration plate (5 x 5 holes at a pitch of 0.08 m)
// and returns the first lattice found, or found = false. Always prints one line
// "Lattice Detection Runtime: <ms>" on standard output. Runs on the caller's thread; reads only
// the image. Deterministic: the plane fits use fixed seeds.
LatticeDetectionResult detectLattice(const PointImage& image);
