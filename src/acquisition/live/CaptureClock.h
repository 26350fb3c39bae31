#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace tavorin {

// Places device timestamps on the host's monotonic clock through an origin: the instant at which
// the device clock read 0, as a frame's system timestamp less its device timestamp shows it. Each
// system timestamp comes late by the frame's USB latency (milliseconds, different for every
// frame). One CaptureClock serves one start of its devices' cameras (a start resets a device
// clock). Any thread.
//
// - FirstFrame: the first frame handed in fixes the origin. The devices of a wired chain share one
//   device clock and so one such CaptureClock: their capture times then differ by exactly their
//   device timestamps, whatever each frame's latency.
// - LeastLatency: the origin of the frame with the least latency among the last `window` frames.
//   A standalone device has nothing but the host clock in common with the others; so placed, its
//   capture times are late by the least latency only, which alike devices share, instead of by
//   whatever latency its first frame had, and they follow the drift of the device's crystal
//   against the host's clock.
class CaptureClock {
public:
    enum class Origin { FirstFrame, LeastLatency };
    static constexpr std::size_t kLeastLatencyWindow = 300; // frames: 10 s at 30 fps

    explicit CaptureClock(Origin origin = Origin::FirstFrame, std::size_t window = kLeastLatencyWindow);

    // Seconds on the host's monotonic clock at which the frame with these timestamps was captured.
    double hostSeconds(std::uint64_t deviceUsec, std::uint64_t systemNsec);

private:
    const Origin origin;
    const std::size_t window;
    std::mutex mutex;
    std::optional<std::int64_t> deviceZeroNsec; // on the host clock; guarded by mutex
    // LeastLatency: (frame number, origin) of the frames that may still become the least, their
    // origins increasing; guarded by mutex.
    std::deque<std::pair<std::uint64_t, std::int64_t>> candidates;
    std::uint64_t frames = 0; // guarded by mutex
};

} // namespace tavorin
