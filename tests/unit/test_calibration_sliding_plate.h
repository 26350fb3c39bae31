// A detected plate that slides along x without turning, for the tests and the benchmark of
// bringing cameras' observations to one instant.
#pragma once

#include "calibration/detection/LatticeDetectionResult.h"

// The plate at time t (seconds) moving at `speed` metres per second, 1.5 m in front of the camera.
inline tavorin::LatticeDetectionResult slidingPlateAt(double t, float speed)
{
    using tavorin::Vec4;
    tavorin::LatticeDetectionResult plate;
    plate.found = true;
    plate.origin = Vec4::point(speed * static_cast<float>(t), 0.0f, 1.5f);
    plate.primaryAxis = Vec4::direction(1, 0, 0);
    plate.secondaryAxis = Vec4::direction(0, 1, 0);
    plate.normal = Vec4::direction(0, 0, -1);
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 5; ++k)
            plate.holes.push_back(plate.origin + Vec4::direction(0.08f * (i - 2), 0.08f * (k - 2), 0.0f));
    return plate;
}
