#include "acquisition/live/CaptureClock.h"

#include <algorithm>

namespace tavorin {

CaptureClock::CaptureClock(Origin origin_, std::size_t window_) : origin(origin_), window(std::max<std::size_t>(1, window_))
{
}

double CaptureClock::hostSeconds(std::uint64_t deviceUsec, std::uint64_t systemNsec)
{
    constexpr double kNsPerSecond = 1e9;
    constexpr std::int64_t kNsPerUsec = 1000;
    const std::int64_t deviceNsec = static_cast<std::int64_t>(deviceUsec) * kNsPerUsec;
    const std::int64_t frameZero = static_cast<std::int64_t>(systemNsec) - deviceNsec;
    std::lock_guard<std::mutex> lock(mutex);
    if (origin == Origin::FirstFrame) {
        if (!deviceZeroNsec)
            deviceZeroNsec = frameZero;
    } else {
        // The sliding minimum: a frame drops every candidate with a later origin, which can no
        // longer be the least while it is in the window.
        while (!candidates.empty() && candidates.back().second >= frameZero)
            candidates.pop_back();
        candidates.emplace_back(frames, frameZero);
        while (frames - candidates.front().first >= window)
            candidates.pop_front();
        ++frames;
        deviceZeroNsec = candidates.front().second;
    }
    return static_cast<double>(*deviceZeroNsec + deviceNsec) / kNsPerSecond;
}

} // namespace tavorin
