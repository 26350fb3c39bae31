#include "acquisition/recording/RecordingPlausibility.h"

#include <cmath>
#include <sstream>

namespace tavorin {

std::string timestampFault(const std::vector<double>& seconds)
{
    constexpr double kMaxMagnitudeS = 1e10;
    constexpr double kMaxSpanS = 86400.0;
    std::ostringstream fault;
    for (std::size_t i = 0; i < seconds.size(); ++i) {
        const double t = seconds[i];
        if (!std::isfinite(t)) {
            fault << "timestamp " << i << " is " << t << ", not a finite number of seconds.";
            return fault.str();
        }
        if (std::abs(t) > kMaxMagnitudeS) {
            fault << "timestamp " << i << " (" << t << " s) lies outside ±" << kMaxMagnitudeS << " s.";
            return fault.str();
        }
        if (i > 0 && t < seconds[i - 1]) {
            fault << "timestamp " << i << " (" << t << " s) is earlier than timestamp " << i - 1 << " ("
                  << seconds[i - 1] << " s); timestamps must not decrease.";
            return fault.str();
        }
    }
    if (!seconds.empty() && seconds.back() - seconds.front() > kMaxSpanS) {
        fault << "the timestamps span " << seconds.back() - seconds.front() << " s, more than one day ("
              << kMaxSpanS << " s).";
        return fault.str();
    }
    return {};
}

std::string intrinsicsFault(const std::string& source, double cx, double cy, double fx, double fy)
{
    constexpr double kMinFocalPx = 1.0;
    constexpr double kMaxFocalPx = 1e6;
    constexpr double kMaxPrincipalPointPx = 1e6;
    const auto focalOk = [](double f) { return f >= kMinFocalPx && f <= kMaxFocalPx; };
    const auto centreOk = [](double c) { return std::abs(c) <= kMaxPrincipalPointPx; };
    if (focalOk(fx) && focalOk(fy) && centreOk(cx) && centreOk(cy))
        return {};
    std::ostringstream fault;
    fault << source << " has focal lengths " << fx << " x " << fy << " px and principal point (" << cx << ", " << cy
          << ") px; focal lengths must lie in " << kMinFocalPx << " .. " << kMaxFocalPx
          << " px and the principal point within ±" << kMaxPrincipalPointPx << " px.";
    return fault.str();
}

} // namespace tavorin
