#pragma once

#include "acquisition/config/DepthCorrectionInUse.h"
#include "acquisition/live/CaptureClock.h"
#include "acquisition/live/CaptureFrameSink.h"
#include "acquisition/live/SyncChain.h"
#include "base/NonCopyable.h"
#include "math/Mat4.h"

#include <k4a/k4a.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tavorin {

// One opened Azure Kinect device and its capture thread, which turns every capture into a point
// cloud in metres (x to the image's left, y up, z along the view) with one B, G, R, A colour per
// point. The object is created, opened, stopped and destroyed on the render thread (or during
// static initialisation); the capture thread writes the buffers in place, without a lock.
class AzureKinectReadingThread : NonCopyable {
public:
    explicit AzureKinectReadingThread(std::uint32_t deviceIndex);
    // Joins the capture thread if stop() was not called, then releases the SDK objects.
    ~AzureKinectReadingThread();

    // Opens and starts the device and starts the capture thread. A device that fails on the way
    // is closed again and the answer is false. The first call prints "Try to open kinect <index>"
    // and the reason of a failure; a later call (a retry) prints only what changed: a different
    // failure, or the opening after a failure, each after the "Try to open" line.
    bool open(const SyncAssignment& sync = {});
    // The two halves of open(), for starting several devices in the order a sync cable needs:
    // openDevice() opens the device and reads its serial number, start() starts its cameras in
    // the given role and the capture thread, which places the device timestamps on the host clock
    // through `clock` (the one the other members of its chain use; open() gives the device one of
    // its own). Each prints as open() does.
    bool openDevice();
    bool start(const SyncAssignment& sync, std::shared_ptr<CaptureClock> clock);
    // What the opened device's sync jacks report; empty without a device or when it cannot say.
    // Render thread.
    std::optional<SyncJacks> readSyncJacks();
    // The role the device streams in.
    const SyncAssignment& sync() const { return syncAssignment; }
    // Asks the capture thread to end and stops the device's cameras, which ends a capture wait
    // at once. Render thread (the thread that opens and stops the object).
    void requestStop();
    // Set by requestStop(), stop() or the capture thread after an error; any thread.
    bool isStopRequested() const { return stopRequested.load(); }
    // Requests the end, joins the capture thread and marks the object stopped.
    void stop();
    bool isStopped() const { return stopped; }

    // Null until the capture thread has allocated the buffers, then fixed for the object's life;
    // width() and height() are valid once points() is not null.
    float* points() const { return publishedPoints.load(std::memory_order_acquire); }
    std::uint8_t* colors() const { return publishedColors.load(std::memory_order_acquire); }
    std::int32_t width() const { return imageWidth; }
    // Keeps the capture thread from writing the next frame into the buffers (points, colours and
    // capture time stay one frame) for as long as the lock is held; it writes each frame in about a
    // millisecond, under the same lock. Any thread.
    std::unique_lock<std::mutex> holdFrame() { return std::unique_lock<std::mutex>(frameMutex); }
    // Seconds on the host's monotonic clock when the depth image of the published frame was
    // captured (its device timestamp, placed on the host clock by the CaptureClock given at the
    // start); empty before the first frame. Any thread.
    std::optional<double> captureSeconds() const
    {
        const double seconds = publishedCaptureSeconds.load(std::memory_order_acquire);
        return seconds > 0.0 ? std::optional<double>(seconds) : std::nullopt;
    }
    std::int32_t height() const { return imageHeight; }
    const std::string& serialNumber() const { return serial; }
    // The device's raw calibration blob without its terminating NUL, read at opening; empty when
    // the device gave none. Fixed while the capture thread runs.
    const std::string& rawCalibration() const { return rawCalibrationBlob; }
    // The calibration the device streams with, read at opening.
    const k4a_calibration_t& deviceCalibration() const { return calibration; }
    // Every capture from now on also goes to `sink` (null: to none), on the capture thread; the
    // call returns once no capture is being handed to the previous sink. Any thread.
    void setFrameSink(std::shared_ptr<CaptureFrameSink> sink);
    std::uint32_t index() const { return deviceIndex; }

    // What every device is started with: BGRA colour at 720p, unbinned narrow-field depth, 30 fps,
    // synchronised captures only, standalone.
    static k4a_device_configuration_t captureConfiguration(const SyncAssignment& sync = {});

    // Camera points to room; from the configuration file at opening, later from setModelMatrix.
    // Render thread.
    Mat4 modelMatrix;
    // The depth error removed from the points of every capture from the next one on; from the file
    // beside the configuration file at opening. Any thread.
    DepthCorrection depthCorrection() const { return corrections.wanted(); }
    void setDepthCorrection(const DepthCorrection& correction) { corrections.setWanted(correction); }
    // The depth error removed from the points of the capture published last. Any thread.
    DepthCorrection removedDepthCorrection() const { return corrections.removed(); }

private:
    void announceAttempt() const;
    std::string openHandle();
    std::string startStreaming(const SyncAssignment& sync);
    void reportFailure(const std::string& failure, bool firstAttempt);
    std::string readSerialNumber();
    void startCameras(const SyncAssignment& sync);
    void readCalibration();
    void readRawCalibration();
    void handToSink(const std::uint16_t* depthMm, k4a_image_t depth, double captureSeconds);
    void captureLoop();
    void publishBuffers();
    void buildXyTable();
    void createTransformedColor();
    bool captureFrame();
    void closeDevice();

    std::int32_t imageWidth = 0;
    std::int32_t imageHeight = 0;
    std::unique_ptr<float[]> pointStorage;
    std::unique_ptr<std::uint8_t[]> colorStorage;
    std::atomic<float*> publishedPoints{nullptr};
    std::atomic<double> publishedCaptureSeconds{0.0};
    std::mutex frameMutex; // held while a frame is written into the published buffers
    DepthCorrectionInUse corrections;
    std::shared_ptr<CaptureClock> captureClock; // set before the capture thread starts
    std::atomic<std::uint8_t*> publishedColors{nullptr};
    k4a_device_t device = nullptr;
    k4a_calibration_t calibration{};
    k4a_transformation_t transformation = nullptr;
    k4a_image_t xyTable = nullptr; // width x height (x, y) float pairs; NaN where a pixel has no ray
    k4a_image_t transformedColor = nullptr; // width x height BGRA32, refilled by every capture
    // Guards `device` between its closing on the capture thread and requestStop() on the render
    // thread; the capture thread's own uses need no lock.
    std::mutex deviceMutex;
    std::atomic<bool> stopRequested{false};
    bool stopped = false;
    std::thread captureThread;
    std::uint32_t deviceIndex;
    std::string serial;
    SyncAssignment syncAssignment;
    std::string rawCalibrationBlob;
    std::mutex sinkMutex; // held while a capture is handed to the sink
    std::shared_ptr<CaptureFrameSink> frameSink;
    bool attempted = false;      // open() has been called
    bool openingFirstAttempt = false; // the current opening is the first attempt
    std::string reportedFailure; // the failure open() printed last; empty after an opening
};

} // namespace tavorin
