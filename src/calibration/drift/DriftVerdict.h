#pragma once

#include "calibration/drift/DriftRegistration.h"

#include <string>

namespace tavorin {

// A camera counts as moved beyond either limit; a change of its range alone is no motion.
struct DriftLimits {
    double turnDeg = 0.1;
    double shiftMm = 2.0;
};

enum class DriftVerdict { InPlace, Moved, CannotTell };

DriftVerdict driftVerdict(const DriftEstimate& estimate, const DriftLimits& limits);

// The verdict as the console says it, after "Camera <i> (<serial>): ":
// "moved 0.512 deg, 8.03 mm since 2026-12-10", "in place (0.003 deg, 0.05 mm)" or
// "cannot tell: <why>". `storedAt`: the date of the reference.
std::string driftVerdictText(const DriftEstimate& estimate, DriftVerdict verdict, const std::string& storedAt);

// "0.512 deg, 8.03 mm": the turn and the shift of the camera's centre.
std::string motionText(const DriftEstimate& estimate);

// "range +3.0 mm": what the sensor now adds to every range against its reference.
std::string rangeOffsetText(const DriftEstimate& estimate);

} // namespace tavorin
