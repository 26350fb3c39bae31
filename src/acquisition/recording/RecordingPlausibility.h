#pragma once

#include <string>
#include <vector>

namespace tavorin {

// Checks of a recording's values at opening. Each answers an empty string when the values are
// plausible, else the reason, worded to follow "Refusing <path>: ".

// Seconds, one per frame: finite, never decreasing, within ±1e10 s (device clocks and Unix time
// alike) and spanning at most one day.
std::string timestampFault(const std::vector<double>& seconds);

// Pinhole intrinsics in pixels: focal lengths from 1 px to 1e6 px, the principal point finite
// and within ±1e6 px. `source` names where they come from ("frame 3", "the raw calibration").
std::string intrinsicsFault(const std::string& source, double cx, double cy, double fx, double fy);

} // namespace tavorin
