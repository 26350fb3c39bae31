#pragma once

#include "math/Vec4.h"

#include <vector>

namespace tavorin {

// One camera's lattice search, in that camera's coordinates (metres). When found is false,
// holes is empty and the vectors keep their defaults.
struct LatticeDetectionResult {
    bool found = false;
    std::vector<Vec4> holes; // accepted hole centres on the fitted plate plane (points)
    Vec4 origin;             // the centre hole (point)
    Vec4 primaryAxis;        // unit, in-plane, from the centre hole toward the ring mass
    Vec4 secondaryAxis;      // unit, in-plane, primaryAxis turned a quarter about the normal
    Vec4 normal;             // unit plate normal, z <= 0 (toward the camera)
    Vec4 ringOffset;         // from origin to the centroid of the ring points, not normalised
};

} // namespace tavorin
