#pragma once

#include <cstdint>

namespace tavorin {

// One capture of a live device as it left the SDK, borrowed for the duration of the call.
struct CapturedFrame {
    const std::uint16_t* depthMm; // width x height, rows back to back; 0 = no measurement
    const std::uint8_t* bgra;     // the colour resampled into the depth grid, width x height x 4
    std::int32_t width;
    std::int32_t height;
    std::uint64_t deviceTimestampUsec; // the device's clock, counting from the start of its cameras
    std::uint64_t systemTimestampNsec; // the host's monotonic clock when the capture arrived
    // Seconds on the host's monotonic clock at which the depth image was captured: the device
    // timestamp placed by the device's CaptureClock, the capture time its live record carries.
    double captureSeconds;
};

// Receives every capture of one device. Called on that device's capture thread, which waits for
// the call to return: an implementation must not block on the disk.
class CaptureFrameSink {
public:
    virtual ~CaptureFrameSink() = default;
    virtual void onFrame(const CapturedFrame& frame) = 0;
};

} // namespace tavorin
