#include "calibration/drift/DriftVerdict.h"

#include <iomanip>
#include <sstream>

namespace tavorin {

namespace {

constexpr int kDegreeDecimals = 3;
constexpr int kMmDecimals = 2;

} // namespace

std::string motionText(const DriftEstimate& estimate)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(kDegreeDecimals) << estimate.turnDeg << " deg, "
         << std::setprecision(kMmDecimals) << estimate.shiftMm << " mm";
    return text.str();
}

DriftVerdict driftVerdict(const DriftEstimate& estimate, const DriftLimits& limits)
{
    if (!estimate.told)
        return DriftVerdict::CannotTell;
    return estimate.turnDeg > limits.turnDeg || estimate.shiftMm > limits.shiftMm ? DriftVerdict::Moved
                                                                                  : DriftVerdict::InPlace;
}

std::string driftVerdictText(const DriftEstimate& estimate, DriftVerdict verdict, const std::string& storedAt)
{
    switch (verdict) {
    case DriftVerdict::Moved:
        return "moved " + motionText(estimate) + " since " + storedAt;
    case DriftVerdict::InPlace:
        return "in place (" + motionText(estimate) + ")";
    case DriftVerdict::CannotTell:
        break;
    }
    return "cannot tell: " + estimate.why;
}

std::string rangeOffsetText(const DriftEstimate& estimate)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << std::showpos << "range " << estimate.rangeOffsetMm << " mm";
    return text.str();
}

} // namespace tavorin
