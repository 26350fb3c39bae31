#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

namespace tavorin {

// Places device timestamps on the host's monotonic clock through one origin: the instant at which
// the device clock read 0, as the first frame handed in shows it (its system timestamp less its
// device timestamp). The devices of a wired chain share one device clock and so one CaptureClock:
// their capture times then differ by exactly their device timestamps, free of the milliseconds of
// USB latency that each frame's system timestamp carries. A standalone device has one of its own.
// One CaptureClock serves one start of its devices' cameras (a start resets a device clock).
// Any thread.
class CaptureClock {
public:
    // Seconds on the host's monotonic clock at which the frame with these timestamps was captured.
    double hostSeconds(std::uint64_t deviceUsec, std::uint64_t systemNsec);

private:
    std::mutex mutex;
    std::optional<std::int64_t> deviceZeroNsec; // on the host clock; guarded by mutex
};

} // namespace tavorin
