#pragma once

#include "calibration/detection/LatticeDetectionResult.h"
#include "math/DepthCorrection.h"
#include "math/Vec4.h"

#include <optional>
#include <vector>

namespace tavorin {

// The plate's lattice: 5 x 5 holes, 0.08 m apart, the centre hole at the plate's origin.
constexpr int kLatticeHalfSpan = 2; // holes from -2 to 2 along each axis
constexpr float kLatticePitchM = 0.08f;

// One camera's view of the plate at one instant, camera coordinates, metres: each found hole with
// its place in the lattice as this camera sees it (row along the primary axis, toward the handle;
// column along the secondary axis), and the axes of the view. Cameras on the two sides of the plate
// see it mirrored; the joint estimate sorts that out.
struct PlateObservation {
    struct Hole {
        int row = 0;    // -2 .. 2
        int column = 0; // -2 .. 2
        Vec4 point;
    };
    std::vector<Hole> holes;
    Vec4 origin;
    Vec4 primaryAxis;
    Vec4 secondaryAxis; // primaryAxis x normal
};

// The labelled holes of a detection: each hole within 0.02 m of a lattice place (a place claimed by
// two holes keeps neither), as the sensor measured them: `removed`, the depth correction the
// source applied to the points, is put back. Nothing when the lattice was not found or fewer than
// 8 holes are labelled.
std::optional<PlateObservation> observePlate(const LatticeDetectionResult& detection,
                                             const DepthCorrection& removed = {});

} // namespace tavorin
