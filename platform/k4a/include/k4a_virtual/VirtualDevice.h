// Virtual devices of our depth-camera SDK layer, for tests and benchmarks: what a test plugs in
// here is what k4a_device_get_installed_count and k4a_device_open see, in plug-in order.
#pragma once

#include <k4a/k4atypes.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace k4a_virtual {

// The pixels of one frame, rows back to back: depth in millimetres (0 = no measurement) in the
// depth camera's grid, colour as B, G, R, A bytes in the colour camera's grid (null, with size 0,
// while the colour camera is off).
struct FrameBuffers {
    std::uint16_t* depthMm;
    int depthWidth;
    int depthHeight;
    std::uint8_t* bgra;
    int colorWidth;
    int colorHeight;
    std::uint64_t systemTimestampNsec; // when the frame is captured, on the host's steady clock
};

// Fills the frames of one device. Runs on the thread that waits for a capture; one device never
// calls it from two threads at once.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // `calibration` is the device's calibration for the depth mode and colour resolution it streams.
    virtual void render(const k4a_calibration_t& calibration, std::uint64_t frameIndex, const FrameBuffers& frame) = 0;
    // Once per start of the cameras, on the starting thread, before the first frame is due: what a
    // source builds once for a calibration (a static scene rendered for the camera) belongs here, so
    // that the first frames come on time. `colorWidth` is 0 while the colour camera is off.
    virtual void prepare(const k4a_calibration_t& calibration, int depthWidth, int depthHeight, int colorWidth,
                         int colorHeight)
    {
        (void)calibration, (void)depthWidth, (void)depthHeight, (void)colorWidth, (void)colorHeight;
    }
};

// The colour camera our layer gives a virtual device at 720p: 1280 x 720 pixels, undistorted.
k4a_calibration_camera_t defaultColorCamera();
// Depth camera to colour camera (rotation row-major, translation in millimetres): the colour
// camera 32 mm to the depth camera's left, tilted 6 degrees, as on the real hardware.
k4a_calibration_extrinsics_t defaultDepthToColor();

class VirtualDevice {
public:
    // rawCalibration: the device's calibration blob in the real format (JSON text).
    VirtualDevice(std::string serialNumber, std::string rawCalibration, std::shared_ptr<FrameSource> frames);

    const std::string serialNumber;
    const std::string rawCalibration;
    const std::shared_ptr<FrameSource> frames;
    // Change only before plugging the device in.
    k4a_calibration_camera_t colorCamera;
    k4a_calibration_extrinsics_t depthToColor;

    // On the sync cable of our layer: the device exposes the same frames as the other devices on
    // it, so that a host too slow for every frame drops the same frames on all of them. The cable
    // also carries the master's trigger: a subordinate started while no master on it streams
    // delivers nothing until a master starts, then captures with it and shares its device clock;
    // a subordinate started while its master streams keeps its own clock, misaligned. Change only
    // before plugging the device in.
    bool onSyncCable = false;
    // Where within the frame period the device captures while it streams standalone off the sync
    // cable: its frames fall this long after the instants of the grid that the devices on the
    // cable share (taken modulo the frame period), as independent cameras each run on their own
    // clock. Masters and the devices on the cable capture on the grid; a subordinate captures its
    // subordinate delay after it. Change only before plugging the device in.
    std::chrono::microseconds phaseOffset{0};
    // The most by which an image's system timestamp lies after the instant its frame was captured,
    // drawn anew for every frame, as the host's USB latency puts it on real hardware (the device
    // timestamp and FrameBuffers::systemTimestampNsec keep the true instant). Change only before
    // plugging the device in.
    std::chrono::microseconds systemTimestampLatency{0};

    // Faults, switched by any thread at any time; each takes effect at the next SDK call.
    std::atomic<bool> noPower{false};          // k4a_device_open fails
    std::atomic<bool> serialFails{false};      // k4a_device_get_serialnum fails
    std::atomic<bool> startFails{false};       // k4a_device_start_cameras fails
    std::atomic<bool> calibrationFails{false}; // k4a_device_get_calibration fails
    std::atomic<bool> captureFails{false};     // k4a_device_get_capture answers failed
    std::atomic<bool> captureTimesOut{false};  // k4a_device_get_capture answers timeout
    // Delivers nothing and reports nothing, as a device whose stream stops without an error: a
    // timed wait runs out, a wait without a time limit ends only when the cameras are stopped or
    // the device is unplugged, and then fails.
    std::atomic<bool> goesSilent{false};
    std::atomic<bool> omitDepth{false};        // captures come without a depth image
    std::atomic<bool> omitColor{false};        // captures come without a colour image
    // The sync cables, plugged and pulled by any thread at any time. Starting as a master needs a
    // cable in sync-out, as a subordinate one in sync-in; a subordinate whose sync-in cable is
    // pulled while it streams gets no more triggers and delivers nothing until it is restarted.
    std::atomic<bool> syncInCable{false};
    std::atomic<bool> syncOutCable{false};

    // What the layer saw, readable by any thread.
    std::atomic<bool> isOpen{false};
    std::atomic<int> timesOpened{0};
    std::atomic<std::uint64_t> framesDelivered{0};
    // The configuration of the last start: its wired sync mode, its subordinate delay (at most one
    // frame period, or the start fails), and its place among all starts of all devices since the
    // process began (1 for the first). Its images carry the device timestamp, in microseconds
    // since the device's first frame (a subordinate started before its master: since the
    // master's), and the system timestamp: the frame's instant on the host's steady clock plus
    // its drawn latency.
    std::atomic<int> startedSyncMode{K4A_WIRED_SYNC_MODE_STANDALONE};
    std::atomic<std::uint32_t> startedSubordinateDelayUsec{0};
    std::atomic<std::uint64_t> startSequence{0};
};

// Any thread. The device counts as installed at the next index; plugging in a device twice does
// nothing.
void plugIn(const std::shared_ptr<VirtualDevice>& device);
// Any thread. The indices of later devices move down by one; an open handle stays valid, but its
// captures fail from now on.
void unplug(const std::shared_ptr<VirtualDevice>& device);
void unplugAll();

} // namespace k4a_virtual
