// Device calls of the SDK's C API in our layer, over the plugged-in virtual devices.
#include <k4a/k4a.h>

#include "device_handles.h"

#include <algorithm>
#include <cstring>
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
// frames of several devices show the scene at the same instants; each device's clock still counts
// from the start of its own cameras.
Clock::time_point gridEpoch()
{
    static const Clock::time_point epoch = Clock::now();
    return epoch;
}

// The number of the grid's next instant, counted from the epoch.
std::uint64_t nextGridSlot(Clock::duration interval)
{
    return static_cast<std::uint64_t>((Clock::now() - gridEpoch()) / interval) + 1;
}

bool validConfiguration(const k4a_device_configuration_t& config)
{
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

// The device clock counts from the start of the cameras; the host clock is the steady clock, which
// is CLOCK_MONOTONIC, as for the real SDK's system timestamps.
void stampImage(Image* image, const DeviceSession& s, Clock::time_point due)
{
    if (!image)
        return;
    image->deviceTimestampUsec =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(due - s.streamStart).count());
    image->systemTimestampNsec = sinceEpochNs(due);
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
    stampImage(capture->depth, s, due);
    stampImage(capture->color, s, due);
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
    const auto dueIndex = static_cast<std::uint64_t>((now - s.streamStart) / s.frameInterval);
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

// A silent device reports nothing: a timed wait runs out, a wait without a time limit lasts until
// the cameras are stopped or the device is unplugged, and then fails.
k4a_wait_result_t waitOutSilence(DeviceSession& s, int32_t timeoutMs)
{
    if (timeoutMs != K4A_WAIT_INFINITE)
        return stoppedBefore(s, Clock::now() + std::chrono::milliseconds(timeoutMs)) ? K4A_WAIT_RESULT_FAILED
                                                                                     : K4A_WAIT_RESULT_TIMEOUT;
    // An unplug is not signalled to the session: it is looked for this often.
    constexpr std::chrono::milliseconds kUnplugCheckInterval{10};
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
    if (!s || !config || isStreaming(*s) || s->device->startFails.load() || !validConfiguration(*config)
        || !syncCablesFit(*s->device, config->wired_sync_mode))
        return K4A_RESULT_FAILED;
    k4a_calibration_t calibration{};
    Clock::duration interval{};
    if (!frameInterval(config->camera_fps, interval))
        return K4A_RESULT_FAILED;
    if (!deviceCalibration(*s->device, config->depth_mode, config->color_resolution, calibration))
        return K4A_RESULT_FAILED;
    s->calibration = calibration;
    s->colorOn = config->color_resolution != K4A_COLOR_RESOLUTION_OFF;
    s->frameInterval = interval;
    s->gridSlot = nextGridSlot(interval);
    s->streamStart = gridEpoch() + interval * static_cast<Clock::rep>(s->gridSlot);
    s->nextFrame = 0;
    s->subordinate = config->wired_sync_mode == K4A_WIRED_SYNC_MODE_SUBORDINATE;
    s->device->startedSyncMode.store(config->wired_sync_mode);
    s->device->startedSubordinateDelayUsec.store(config->subordinate_delay_off_master_usec);
    s->device->startSequence.store(++startsSoFar);
    if (s->device->onSyncCable)
        FrameRig::instance().join(s);
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
