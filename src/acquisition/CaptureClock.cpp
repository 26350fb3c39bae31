#include "acquisition/CaptureClock.h"

namespace tavorin {

double CaptureClock::hostSeconds(std::uint64_t deviceUsec, std::uint64_t systemNsec)
{
    constexpr double kNsPerSecond = 1e9;
    constexpr std::int64_t kNsPerUsec = 1000;
    const std::int64_t deviceNsec = static_cast<std::int64_t>(deviceUsec) * kNsPerUsec;
    std::lock_guard<std::mutex> lock(mutex);
    if (!deviceZeroNsec)
        deviceZeroNsec = static_cast<std::int64_t>(systemNsec) - deviceNsec;
    return static_cast<double>(*deviceZeroNsec + deviceNsec) / kNsPerSecond;
}

} // namespace tavorin
