#pragma once

#include <k4a/k4a.h>

namespace tavorin {

// How a ray table stores the y of the SDK's depth camera frame (x right, y down).
enum class RayTableY {
    AsSdk,   // (x, y)
    Negated, // (x, -y)
};

// Fills `table` (width x height pairs of floats of the calibration's depth camera, rows from the
// top) with the unit-depth ray of every depth pixel: the SDK's 3D point of pixel (column, row) at
// depth 1 mm, depth camera to depth camera; (NaN, NaN) where the pixel does not map. False when
// the SDK refuses a conversion (invalid transformation parameters); the table is then incomplete.
bool fillRayTable(const k4a_calibration_t& calibration, RayTableY y, float* table);

} // namespace tavorin
