// Device calls of the SDK's C API in our layer, over the plugged-in virtual devices.
#include <k4a/k4a.h>

#include "device_handles.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>

using namespace k4a_layer;
using Clock = std::chrono::steady_clock;

namespace {

DeviceSession* session(k4a_device_t handle)
{
    return fromHandle<DeviceSession>(handle);
}

bool frameInterval(k4a_fps_t fps, Clock::duration& interval)
{
    constexpr int kNsPerSecond = 1000000000;
    switch (fps) {
    case K4A_FRAMES_PER_SECOND_5:
        interval = std::chrono::nanoseconds(kNsPerSecond / 5);
        return true;
    case K4A_FRAMES_PER_SECOND_15:
        interval = std::chrono::nanoseconds(kNsPerSecond / 15);
        return true;
    case K4A_FRAMES_PER_SECOND_30:
        interval = std::chrono::nanoseconds(kNsPerSecond / 30);
        return true;
    default:
        return false;
    }
}

// The device's depth camera from its raw blob, and its colour camera at 720p.
bool deviceCalibration(const k4a_virtual::VirtualDevice& device, k4a_depth_mode_t depthMode,
                       k4a_color_resolution_t colorResolution, k4a_calibration_t& calibration)
{
    if (colorResolution != K4A_COLOR_RESOLUTION_OFF && colorResolution != K4A_COLOR_RESOLUTION_720P)
        return false;
    std::string blob = device.rawCalibration;
    if (K4A_FAILED(k4a_calibration_get_from_raw(&blob[0], blob.size() + 1, depthMode, colorResolution, &calibration)))
        return false;
    calibration.color_camera_calibration = k4a_calibration_camera_t{};
    if (colorResolution == K4A_COLOR_RESOLUTION_720P) {
        calibration.color_camera_calibration = device.colorCamera;
        calibration.extrinsics[K4A_CALIBRATION_TYPE_DEPTH][K4A_CALIBRATION_TYPE_COLOR] = device.depthToColor;
    }
    return true;
}

// A master needs a cable in sync-out to trigger through, a subordinate one in sync-in to be
// triggered by, as the real devices check at start.
bool syncCablesFit(const k4a_virtual::VirtualDevice& device, k4a_wired_sync_mode_t mode)
{
    switch (mode) {
    case K4A_WIRED_SYNC_MODE_STANDALONE:
        return true;
    case K4A_WIRED_SYNC_MODE_MASTER:
        return device.syncOutCable.load();
    case K4A_WIRED_SYNC_MODE_SUBORDINATE:
        return device.syncInCable.load();
    }
    return false;
}

std::atomic<std::uint64_t> startsSoFar{0};

// An unplug is not signalled to a session that waits: it is looked for this often.
constexpr std::chrono::milliseconds kUnplugCheckInterval{10};

// The SDK's two-call buffer protocol: `size` in: the buffer's size, out: the size needed with the
// terminating NUL; the text is copied only into a buffer that holds it all.
k4a_buffer_result_t copyWithNul(const std::string& text, void* buffer, size_t* size)
{
    const size_t needed = text.size() + 1;
    const size_t given = *size;
    *size = needed;
    if (!buffer || given < needed)
        return K4A_BUFFER_RESULT_TOO_SMALL;
    std::memcpy(buffer, text.c_str(), needed);
    return K4A_BUFFER_RESULT_SUCCEEDED;
}

// Virtual devices expose their frames on one shared grid, as devices on a sync cable do, so that
// frames of several devices show the scene at the same instants. A device captures a fixed offset
// after the grid's instants: a subordinate its delay, a standalone device off the cable its phase.
Clock::time_point gridEpoch()
{
    static const Clock::time_point epoch = Clock::now();
    return epoch;
}

// The number of the next instant of the grid shifted by `offset`, counted from the epoch.
std::uint64_t nextGridSlot(Clock::duration interval, Clock::duration offset)
{
    const Clock::duration sinceOrigin = Clock::now() - (gridEpoch() + offset);
    if (sinceOrigin < Clock::duration::zero())
        return 0;
    return static_cast<std::uint64_t>(sinceOrigin / interval) + 1;
}

// The offset of the device's frames from the grid in `mode`: the subordinate delay, or the phase
// of a standalone device off the sync cable (within one frame period); masters and the devices
// on the cable capture on the grid.
Clock::duration gridOffset(const k4a_virtual::VirtualDevice& device, const k4a_device_configuration_t& config,
                           Clock::duration interval)
{
    if (config.wired_sync_mode == K4A_WIRED_SYNC_MODE_SUBORDINATE)
        return std::chrono::microseconds(config.subordinate_delay_off_master_usec);
    if (config.wired_sync_mode != K4A_WIRED_SYNC_MODE_STANDALONE || device.onSyncCable)
        return Clock::duration::zero();
    const Clock::duration phase = device.phaseOffset % interval;
    return phase < Clock::duration::zero() ? phase + interval : phase;
}

// The frames due from `start` to `now`, 0 before `start`.
std::uint64_t framesDue(Clock::time_point now, Clock::time_point start, Clock::duration interval)
{
    return now < start ? 0 : static_cast<std::uint64_t>((now - start) / interval);
}

// `interval`: the frame period the configuration asks for.
bool validConfiguration(const k4a_device_configuration_t& config, Clock::duration interval)
{
    if (std::chrono::microseconds(config.subordinate_delay_off_master_usec) > interval)
        return false; // a subordinate captures within its master's frame period
    const bool colorOn = config.color_resolution != K4A_COLOR_RESOLUTION_OFF;
    if (colorOn && config.color_format != K4A_IMAGE_FORMAT_COLOR_BGRA32)
        return false;
    if (config.depth_mode == K4A_DEPTH_MODE_OFF)
        return false; // our layer streams depth always, colour optionally
    return colorOn || !config.synchronized_images_only;
}

Image* newDepthImage(const k4a_calibration_camera_t& camera)
{
    return createImage(K4A_IMAGE_FORMAT_DEPTH16, camera.resolution_width, camera.resolution_height,
                       camera.resolution_width * static_cast<int>(sizeof(std::uint16_t)));
}

Image* newColorImage(const k4a_calibration_camera_t& camera)
{
    constexpr int kBgraBytes = 4;
    return createImage(K4A_IMAGE_FORMAT_COLOR_BGRA32, camera.resolution_width, camera.resolution_height,
                       camera.resolution_width * kBgraBytes);
}

std::uint64_t sinceEpochNs(Clock::time_point time)
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count());
}

// The device clock counts from the start of the cameras, or of the master for a subordinate
// started before it; the host clock is the steady clock, which is CLOCK_MONOTONIC, as for the real
// SDK's system timestamps, which come `received` (the frame's instant plus its USB latency).
void stampImage(Image* image, const DeviceSession& s, Clock::time_point due, Clock::time_point received)
{
    if (!image)
        return;
    image->deviceTimestampUsec =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(due - s.clockStart).count());
    image->systemTimestampNsec = sinceEpochNs(received);
}

// When the host receives the frame due at `due`.
Clock::time_point receivedAt(DeviceSession& s, Clock::time_point due)
{
    const auto most = std::chrono::duration_cast<std::chrono::nanoseconds>(s.device->systemTimestampLatency).count();
    if (most <= 0)
        return due;
    return due + std::chrono::nanoseconds(std::uniform_int_distribution<std::int64_t>(0, most)(s.latency));
}

// Renders the session's next frame, due at `due`, into a new capture, leaving out what the device
// omits.
Capture* renderCapture(DeviceSession& s, Clock::time_point due)
{
    k4a_virtual::VirtualDevice& device = *s.device;
    Capture* capture = new Capture;
    capture->depth = newDepthImage(s.calibration.depth_camera_calibration);
    capture->color = s.colorOn ? newColorImage(s.calibration.color_camera_calibration) : nullptr;
    k4a_virtual::FrameBuffers frame{};
    frame.depthMm = reinterpret_cast<std::uint16_t*>(capture->depth->pixels.data());
    frame.depthWidth = capture->depth->width;
    frame.depthHeight = capture->depth->height;
    frame.bgra = capture->color ? capture->color->pixels.data() : nullptr;
    frame.colorWidth = capture->color ? capture->color->width : 0;
    frame.colorHeight = capture->color ? capture->color->height : 0;
    frame.systemTimestampNsec = sinceEpochNs(due);
    const Clock::time_point received = receivedAt(s, due);
    stampImage(capture->depth, s, due, received);
    stampImage(capture->color, s, due, received);
    if (device.frames)
        device.frames->render(s.calibration, s.nextFrame, frame);
    if (device.omitDepth.load()) {
        release(capture->depth);
        capture->depth = nullptr;
    }
    if (device.omitColor.load()) {
        release(capture->color);
        capture->color = nullptr;
    }
    return capture;
}

bool isStreaming(DeviceSession& s)
{
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.streaming;
}

// Sleeps until `deadline` unless the cameras are stopped first; true when they were.
bool stoppedBefore(DeviceSession& s, Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(s.mutex);
    return s.streamingEnded.wait_until(lock, deadline, [&s] { return !s.streaming; });
}

// Waits for the frame that is due next; a frame the caller came too late for is dropped, as a
// device's queue drops old captures. Succeeds when the frame is due, times out when the wait runs
// out first, fails when the cameras are stopped meanwhile.
k4a_wait_result_t waitForNextFrame(DeviceSession& s, int32_t timeoutMs)
{
    const Clock::time_point now = Clock::now();
    const std::uint64_t dueIndex = framesDue(now, s.streamStart, s.frameInterval);
    if (s.device->onSyncCable)
        s.nextFrame = FrameRig::instance().nextFrame(&s, s.gridSlot + std::max(dueIndex, s.nextFrame)) - s.gridSlot;
    else if (dueIndex > s.nextFrame)
        s.nextFrame = dueIndex;
    const Clock::time_point due = s.streamStart + s.frameInterval * static_cast<Clock::rep>(s.nextFrame);
    if (timeoutMs != K4A_WAIT_INFINITE && due - now > std::chrono::milliseconds(timeoutMs))
        return stoppedBefore(s, now + std::chrono::milliseconds(timeoutMs)) ? K4A_WAIT_RESULT_FAILED
                                                                            : K4A_WAIT_RESULT_TIMEOUT;
    return stoppedBefore(s, due) ? K4A_WAIT_RESULT_FAILED : K4A_WAIT_RESULT_SUCCEEDED;
}

// A subordinate on the sync cable started before its master streams from the master's first
// frame on, on the master's device clock. Succeeds once the master has started, times out when the
// wait runs out first, fails when the cameras are stopped or the device is unplugged meanwhile.
k4a_wait_result_t waitForMaster(DeviceSession& s, int32_t timeoutMs)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    RigTrigger trigger;
    for (;;) {
        const Clock::time_point deadline = timeoutMs == K4A_WAIT_INFINITE ? Clock::now() + kUnplugCheckInterval : end;
        switch (FrameRig::instance().awaitMaster(&s, deadline, trigger)) {
        case FrameRig::MasterWait::Triggered:
            s.awaitsMaster = false;
            s.gridSlot = trigger.firstSlot;
            s.streamStart = gridEpoch() + s.gridOffset + s.frameInterval * static_cast<Clock::rep>(s.gridSlot);
            s.clockStart = trigger.clockStart;
            s.nextFrame = 0;
            return K4A_WAIT_RESULT_SUCCEEDED;
        case FrameRig::MasterWait::Left:
            return K4A_WAIT_RESULT_FAILED;
        case FrameRig::MasterWait::TimedOut:
            if (timeoutMs != K4A_WAIT_INFINITE)
                return K4A_WAIT_RESULT_TIMEOUT;
            if (!isPlugged(*s.device) || !isStreaming(s))
                return K4A_WAIT_RESULT_FAILED;
        }
    }
}

// A silent device reports nothing: a timed wait runs out, a wait without a time limit lasts until
// the cameras are stopped or the device is unplugged, and then fails.
k4a_wait_result_t waitOutSilence(DeviceSession& s, int32_t timeoutMs)
{
    if (timeoutMs != K4A_WAIT_INFINITE)
        return stoppedBefore(s, Clock::now() + std::chrono::milliseconds(timeoutMs)) ? K4A_WAIT_RESULT_FAILED
                                                                                     : K4A_WAIT_RESULT_TIMEOUT;
    while (!stoppedBefore(s, Clock::now() + kUnplugCheckInterval))
        if (!isPlugged(*s.device))
            break;
    return K4A_WAIT_RESULT_FAILED;
}

} // namespace

extern "C" {

uint32_t k4a_device_get_installed_count(void)
{
    return pluggedCount();
}

k4a_result_t k4a_device_open(uint32_t index, k4a_device_t* device_handle)
{
    if (!device_handle)
        return K4A_RESULT_FAILED;
    *device_handle = nullptr;
    std::shared_ptr<k4a_virtual::VirtualDevice> device = pluggedDevice(index);
    if (!device || device->noPower.load() || device->isOpen.exchange(true))
        return K4A_RESULT_FAILED;
    device->timesOpened.fetch_add(1);
    DeviceSession* opened = new DeviceSession;
    opened->latency.seed(std::hash<std::string>()(device->serialNumber));
    opened->device = std::move(device);
    *device_handle = toHandle<k4a_device_t>(opened);
    return K4A_RESULT_SUCCEEDED;
}

void k4a_device_close(k4a_device_t device_handle)
{
    DeviceSession* s = session(device_handle);
    if (!s)
        return;
    FrameRig::instance().leave(s);
    s->device->isOpen.store(false);
    delete s;
}

k4a_buffer_result_t k4a_device_get_serialnum(k4a_device_t device_handle, char* serial_number,
                                             size_t* serial_number_size)
{
    DeviceSession* s = session(device_handle);
    if (!s || !serial_number_size || s->device->serialFails.load())
        return K4A_BUFFER_RESULT_FAILED;
    return copyWithNul(s->device->serialNumber, serial_number, serial_number_size);
}

k4a_buffer_result_t k4a_device_get_raw_calibration(k4a_device_t device_handle, uint8_t* data, size_t* data_size)
{
    DeviceSession* s = session(device_handle);
    if (!s || !data_size || s->device->calibrationFails.load())
        return K4A_BUFFER_RESULT_FAILED;
    return copyWithNul(s->device->rawCalibration, data, data_size);
}

k4a_result_t k4a_device_start_cameras(k4a_device_t device_handle, const k4a_device_configuration_t* config)
{
    DeviceSession* s = session(device_handle);
    Clock::duration interval{};
    if (!s || !config || isStreaming(*s) || s->device->startFails.load() || !frameInterval(config->camera_fps, interval)
        || !validConfiguration(*config, interval) || !syncCablesFit(*s->device, config->wired_sync_mode))
        return K4A_RESULT_FAILED;
    k4a_calibration_t calibration{};
    if (!deviceCalibration(*s->device, config->depth_mode, config->color_resolution, calibration))
        return K4A_RESULT_FAILED;
    s->calibration = calibration;
    s->colorOn = config->color_resolution != K4A_COLOR_RESOLUTION_OFF;
    // Before the stream's first instant is chosen, so that what the source builds once does not
    // delay the first frames (a first render that builds the scene took 0.2 to 0.3 s).
    if (s->device->frames)
        s->device->frames->prepare(calibration, calibration.depth_camera_calibration.resolution_width,
                                   calibration.depth_camera_calibration.resolution_height,
                                   s->colorOn ? calibration.color_camera_calibration.resolution_width : 0,
                                   s->colorOn ? calibration.color_camera_calibration.resolution_height : 0);
    s->frameInterval = interval;
    s->gridOffset = gridOffset(*s->device, *config, interval);
    s->gridSlot = nextGridSlot(interval, s->gridOffset);
    s->streamStart = gridEpoch() + s->gridOffset + interval * static_cast<Clock::rep>(s->gridSlot);
    s->clockStart = s->streamStart;
    s->nextFrame = 0;
    s->subordinate = config->wired_sync_mode == K4A_WIRED_SYNC_MODE_SUBORDINATE;
    s->device->startedSyncMode.store(config->wired_sync_mode);
    s->device->startedSubordinateDelayUsec.store(config->subordinate_delay_off_master_usec);
    s->device->startSequence.store(++startsSoFar);
    s->awaitsMaster = s->device->onSyncCable
        && FrameRig::instance().join(s, config->wired_sync_mode, RigTrigger{s->gridSlot, s->clockStart});
    std::lock_guard<std::mutex> lock(s->mutex);
    s->streaming = true;
    return K4A_RESULT_SUCCEEDED;
}

k4a_result_t k4a_device_get_sync_jack(k4a_device_t device_handle, bool* sync_in_jack_connected,
                                      bool* sync_out_jack_connected)
{
    DeviceSession* s = session(device_handle);
    if (!s || !sync_in_jack_connected || !sync_out_jack_connected)
        return K4A_RESULT_FAILED;
    *sync_in_jack_connected = s->device->syncInCable.load();
    *sync_out_jack_connected = s->device->syncOutCable.load();
    return K4A_RESULT_SUCCEEDED;
}

// Any thread, also while another one waits in k4a_device_get_capture: that wait then fails.
void k4a_device_stop_cameras(k4a_device_t device_handle)
{
    DeviceSession* s = session(device_handle);
    if (!s)
        return;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        s->streaming = false;
        s->streamingEnded.notify_all();
    }
    FrameRig::instance().leave(s);
}

k4a_result_t k4a_device_get_calibration(k4a_device_t device_handle, const k4a_depth_mode_t depth_mode,
                                        const k4a_color_resolution_t color_resolution,
                                        k4a_calibration_t* calibration)
{
    DeviceSession* s = session(device_handle);
    if (!s || !calibration || s->device->calibrationFails.load())
        return K4A_RESULT_FAILED;
    k4a_calibration_t result{};
    if (!deviceCalibration(*s->device, depth_mode, color_resolution, result))
        return K4A_RESULT_FAILED;
    *calibration = result;
    return K4A_RESULT_SUCCEEDED;
}

k4a_wait_result_t k4a_device_get_capture(k4a_device_t device_handle, k4a_capture_t* capture_handle,
                                         int32_t timeout_in_ms)
{
    DeviceSession* s = session(device_handle);
    if (!s || !capture_handle || timeout_in_ms < K4A_WAIT_INFINITE)
        return K4A_WAIT_RESULT_FAILED;
    *capture_handle = nullptr;
    k4a_virtual::VirtualDevice& device = *s->device;
    if (!isStreaming(*s) || !isPlugged(device) || device.captureFails.load())
        return K4A_WAIT_RESULT_FAILED;
    if (device.captureTimesOut.load())
        return K4A_WAIT_RESULT_TIMEOUT;
    // A subordinate without its sync-in cable gets no trigger, so no frame.
    if (device.goesSilent.load() || (s->subordinate && !device.syncInCable.load()))
        return waitOutSilence(*s, timeout_in_ms);
    if (s->awaitsMaster) {
        const k4a_wait_result_t triggered = waitForMaster(*s, timeout_in_ms);
        if (triggered != K4A_WAIT_RESULT_SUCCEEDED)
            return triggered;
    }
    const k4a_wait_result_t wait = waitForNextFrame(*s, timeout_in_ms);
    if (wait != K4A_WAIT_RESULT_SUCCEEDED)
        return wait;
    const Clock::time_point due = s->streamStart + s->frameInterval * static_cast<Clock::rep>(s->nextFrame);
    *capture_handle = toHandle<k4a_capture_t>(renderCapture(*s, due));
    ++s->nextFrame;
    device.framesDelivered.fetch_add(1);
    return K4A_WAIT_RESULT_SUCCEEDED;
}

} // extern "C"
