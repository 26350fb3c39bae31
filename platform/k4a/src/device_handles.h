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
    std::chrono::steady_clock::time_point streamStart;
    std::uint64_t nextFrame = 0;
    bool subordinate = false; // started in subordinate mode
    std::uint64_t gridSlot = 0; // the instant of the shared frame grid that is frame 0
};

// The virtual devices on one sync cable expose the same frames of the shared frame grid. Each round
// the first member that asks picks the frame: the one due now, and at least the one after the
// last round; every member delivers that frame, late or not, before the next round begins. A host
// too slow for every frame thus drops the same frames on every member. Any thread.
class FrameRig {
public:
    static FrameRig& instance();
    void join(const DeviceSession* member);  // the member starts its cameras
    void leave(const DeviceSession* member); // the member stops them; wakes a member that waits
    // The grid slot of the frame `member` delivers next, `dueSlot` the one due now (at least its
    // next one); a device that is not a member gets dueSlot.
    std::uint64_t nextFrame(const DeviceSession* member, std::uint64_t dueSlot);

private:
    static constexpr std::uint64_t kNoRound = ~std::uint64_t(0);
    bool allTookRound() const;

    std::mutex mutex;
    std::condition_variable changed;
    std::map<const DeviceSession*, std::uint64_t> taken; // the round each member took last
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
