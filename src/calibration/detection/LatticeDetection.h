#pragma once

#include "calibration/detection/LatticeDetectionResult.h"
#include "calibration/detection/PointImage.h"

namespace tavorin {

// Searches one camera's point image for the calibration plate (5 x 5 holes at a pitch of 0.08 m)
// and returns the first lattice found, or found = false. Always prints one line
// "Lattice Detection Runtime: <ms>" on standard output, in one write. Reads only the image and
// keeps nothing between calls: reentrant, so the images of several cameras may be searched at
// once on different threads. Deterministic: the plane fits seed their own samplers with fixed
// seeds on every call.
//
// The work goes to the rows and windows that can hold the plate: every fourth row first, then the
// rows around the gaps found (gapsNearGaps), the crop and the ring only within the windows of the
// pixels their bounding tests pass (windowAround). An image without a gap in every fourth row
// costs a quarter of a pass over its pixels.
LatticeDetectionResult detectLattice(const PointImage& image);

} // namespace tavorin
