// The objects behind the SDK's opaque handles in our layer.
#pragma once

#include <k4a/k4atypes.h>
#include <k4a_virtual/VirtualDevice.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <vector>

namespace k4a_layer {

// Reference-counted: a capture holds one reference to each of its images, and every image handle
// handed out holds another.
struct Image {
    std::atomic<int> references{1};
    k4a_image_format_t format;
    int width;
    int height;
    int stride;
    std::vector<std::uint8_t> pixels;
    std::uint64_t deviceTimestampUsec = 0;
    std::uint64_t systemTimestampNsec = 0;
};

struct Capture {
    Image* depth = nullptr;
    Image* color = nullptr;
};

// One open device. Used by one thread at a time, as the SDK requires of a device handle, except
// that k4a_device_stop_cameras may come from another thread while one waits for a capture: it
// clears `streaming` under `mutex` and wakes the wait through `streamingEnded`.
struct DeviceSession {
    std::shared_ptr<k4a_virtual::VirtualDevice> device;
    std::mutex mutex;
    std::condition_variable streamingEnded;
    bool streaming = false;          // guarded by mutex
    k4a_calibration_t calibration{}; // for the configuration streaming
    bool colorOn = false;
    std::chrono::steady_clock::duration frameInterval{};
    // How far after the shared frame grid's instants this device captures: its subordinate delay,
    // or its phase offset while it streams standalone off the sync cable.
    std::chrono::steady_clock::duration gridOffset{};
    std::chrono::steady_clock::time_point streamStart; // when frame 0 is due
    std::chrono::steady_clock::time_point clockStart;  // where the device clock reads 0
    std::uint64_t nextFrame = 0;
    bool subordinate = false; // started in subordinate mode
    bool awaitsMaster = false; // a subordinate on the sync cable whose master has not started yet
    std::uint64_t gridSlot = 0; // the instant of the shared frame grid that is frame 0
    std::mt19937_64 latency;    // draws each frame's delay of its system timestamp
};

// What a master's start hands the subordinates that were started before it: the grid slot of its
// first frame and the instant its device clock reads 0, which theirs then shares.
struct RigTrigger {
    std::uint64_t firstSlot = 0;
    std::chrono::steady_clock::time_point clockStart;
};

// The virtual devices on one sync cable expose the same frames of the shared frame grid. Each round
// the first member that asks picks the frame: the one due now, and at least the one after the
// last round; every member delivers that frame, late or not, before the next round begins. A host
// too slow for every frame thus drops the same frames on every member.
// The rig is also the members' sync cable: a subordinate that starts while no master on the rig
// streams waits for the next master's start and then shares its grid slots and its device clock;
// one that starts while a master streams runs on its own device clock. Any thread.
class FrameRig {
public:
    enum class MasterWait { Triggered, TimedOut, Left };

    static FrameRig& instance();
    // The member starts its cameras in `mode`; `own` is its first slot and clock zero. True when
    // the member is a subordinate that must wait for a master (awaitMaster).
    bool join(const DeviceSession* member, k4a_wired_sync_mode_t mode, const RigTrigger& own);
    void leave(const DeviceSession* member); // the member stops them; wakes a member that waits
    // Waits until a master's start triggers the waiting subordinate `member` (its trigger in
    // `trigger`), until `deadline`, or until the member leaves.
    MasterWait awaitMaster(const DeviceSession* member, std::chrono::steady_clock::time_point deadline,
                           RigTrigger& trigger);
    // The grid slot of the frame `member` delivers next, never one before its first frame;
    // `dueSlot` is the one due now (at least its next one). A device that is not a member gets
    // dueSlot.
    std::uint64_t nextFrame(const DeviceSession* member, std::uint64_t dueSlot);

private:
    static constexpr std::uint64_t kNoRound = ~std::uint64_t(0);
    struct Member {
        std::uint64_t taken = kNoRound; // the round the member took last
        std::uint64_t firstSlot = 0;    // its first frame's grid slot
        bool waitsForMaster = false;    // takes no rounds until a master triggers it
        std::optional<RigTrigger> trigger; // from the master that ended its wait
    };
    bool allTookRound() const;
    std::uint64_t latestFirstSlot() const;

    std::mutex mutex;
    std::condition_variable changed;
    std::map<const DeviceSession*, Member> members;
    const DeviceSession* master = nullptr; // the master member that streams, if any
    std::uint64_t round = 0;
    bool started = false;
};

struct Transformation {
    k4a_calibration_t calibration;
    std::vector<float> depthRays; // (x, y) at unit depth per depth pixel; NaN where it does not map
};

// A new image with one reference, its pixels zeroed; null for a size or stride that does not fit
// the format.
Image* createImage(k4a_image_format_t format, int width, int height, int stride);
void retain(Image* image);
void release(Image* image);

// The virtual devices that TAVORIN_VIRTUAL_CAMERAS asks for, streaming the sample scene; none
// without the variable. Writes the ground truth to TAVORIN_VIRTUAL_TRUTH when that is set.
std::vector<std::shared_ptr<k4a_virtual::VirtualDevice>> environmentCameras();

// The registry of plugged-in virtual devices, safe from any thread.
bool isPlugged(const k4a_virtual::VirtualDevice& device);
std::uint32_t pluggedCount();
std::shared_ptr<k4a_virtual::VirtualDevice> pluggedDevice(std::uint32_t index); // null past the end

template <typename Handle, typename Object>
Handle toHandle(Object* object)
{
    return reinterpret_cast<Handle>(object);
}

template <typename Object, typename Handle>
Object* fromHandle(Handle handle)
{
    return reinterpret_cast<Object*>(handle);
}

} // namespace k4a_layer
