#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace tavorin {

// Groups the frames of wired-synchronised cameras into frame sets by device timestamp: frames
// whose timestamps, less each camera's configured delay, lie within the tolerance of the first
// camera's frame belong together. A frame that can no longer find a partner (a later frame of
// another camera has been matched or passed it) is dropped and counted. Frames are identified by
// the caller's numbers. One thread at a time.
class FrameSetMatcher {
public:
    static constexpr std::int64_t kToleranceUsec = 1000;

    // delaysUsec: per camera, how long after the master its depth capture starts.
    explicit FrameSetMatcher(std::vector<std::int64_t> delaysUsec);

    // Camera `camera`'s next frame, device timestamps in increasing order per camera.
    void push(std::size_t camera, std::int64_t deviceUsec, std::uint64_t frame);
    // The oldest complete frame set (one frame number per camera), if one is complete; the frames
    // before it that found no partner are dropped.
    std::optional<std::vector<std::uint64_t>> pop();

    std::size_t droppedCount() const { return dropped; }
    // Microseconds between the earliest and the latest capture of the last set, delays removed.
    std::int64_t lastSpreadUsec() const { return spread; }

private:
    struct Frame {
        std::int64_t instantUsec; // device timestamp less the camera's delay
        std::uint64_t frame;
    };
    static constexpr std::size_t kMaxQueued = 16; // per camera: half a second at 30 fps

    void dropFront(std::size_t camera);

    std::vector<std::int64_t> delays;
    std::vector<std::deque<Frame>> queues;
    std::size_t dropped = 0;
    std::int64_t spread = 0;
};

} // namespace tavorin
