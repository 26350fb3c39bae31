#pragma once

#include "acquisition/live/CaptureFrameSink.h"
#include "acquisition/recording/HDF5RecordingWriter.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavorin {

// Records the captures of one device into one file. The capture thread only copies a frame into
// a free slot of a bounded queue (a frame that finds no free slot is dropped and counted); the
// writer thread of this object compresses and writes the queued frames in order. The file is
// created with the first frame, as the image size comes with it.
//
// Frames are taken from start(startNs) on and up to end(endNs), both on the host's monotonic
// clock in nanoseconds, so that recorders started and ended together cover the same time.
//
// Timestamps: every frame's time is its capture time on the host's monotonic clock, less startNs,
// in seconds: the device timestamp placed by the device's CaptureClock, as the live records carry
// it (a wired chain's members exactly their delays apart, a standalone device by the least USB
// latency of its recent frames). Recorders started with the same startNs share one time axis, and
// the offsets between cameras that are not synchronised stay as they were.
class CameraRecorder : public CaptureFrameSink {
public:
    struct Settings {
        std::string path;                    // the final file, kinect_<serial>.h5
        HDF5RecordingWriter::Layout layout;  // width and height: the frames' size, or 0 to take the first frame's
        std::uint64_t frameLimit = 0;        // 0: no limit
        std::size_t queueFrames = kDefaultQueueFrames;
        int depthLevel = HDF5RecordingWriter::kDefaultDepthLevel;
        int colorLevel = HDF5RecordingWriter::kDefaultColorLevel;
        double framePeriodSeconds = 1.0 / 30.0; // the device's
        // A network camera's frame rate is not known: the frames' period, for counting those that
        // never came, is then the median interval of their stamps (lost frames are the exception).
        bool periodFromStamps = false;
    };
    // A stretch of the time axis without a frame, longer than kGapPeriods frame periods: the host
    // or the device stalled, or the queue dropped frames one after another.
    struct Gap {
        double afterSeconds = 0.0; // the last frame before it (0: the start of the recording)
        double lengthSeconds = 0.0;
    };
    static constexpr double kGapPeriods = 3.0;
    // One second at 30 frames per second, about 66 MB with colour.
    static constexpr std::size_t kDefaultQueueFrames = 30;

    explicit CameraRecorder(Settings settings);
    // Finishes the file if finish() was not called.
    ~CameraRecorder() override;
    CameraRecorder(const CameraRecorder&) = delete;
    CameraRecorder& operator=(const CameraRecorder&) = delete;

    // Any thread; the first call counts.
    void start(std::uint64_t startNs);
    // Any thread: frames whose system time is later are not taken.
    void end(std::uint64_t endNs);
    // Capture thread.
    void onFrame(const CapturedFrame& frame) override;

    // Takes no more frames, writes those queued, completes and renames the file. True when the
    // file holds every frame taken; the reason otherwise in error(). Call it once the sink has
    // been detached from the capture thread.
    bool finish();

    // Any thread.
    std::uint64_t framesSeen() const { return seen.load(); } // handed over, taken or not
    // The system time of the latest frame handed over; 0 before the first.
    std::uint64_t latestSystemNs() const { return latestNs.load(); }
    std::uint64_t framesTaken() const { return taken.load(); }
    std::uint64_t framesWritten() const { return written.load(); }
    std::uint64_t framesDropped() const { return dropped.load(); }
    // The frame limit is reached, or writing has failed: nothing more is taken.
    bool isDone() const { return done.load(); }
    const std::string& path() const { return settings.path; }
    // The gaps between the frames taken so far (and before the first), in order.
    std::vector<Gap> gaps() const;
    // The frames that never came (and before the first), gaps of any length: each interval between
    // frames that came, taken or dropped, counts the frame periods it spans less one.
    std::uint64_t framesMissed() const;
    // After finish(): the failure that ended the file early or kept it from being completed.
    const std::string& error() const { return failure; }
    std::uint64_t bytesWritten() const { return writer.bytesWritten(); }

private:
    struct Slot {
        std::vector<std::uint16_t> depthMm;
        std::vector<std::uint8_t> bgra;
        double seconds = 0.0;
    };

    bool onTimeAxis(const CapturedFrame& frame, double& seconds);
    Slot* takeFreeSlot();
    void writeLoop();
    bool writeSlot(const Slot& slot);
    void makeSlots(std::int32_t frameWidth, std::int32_t frameHeight);
    double medianInterval(std::size_t first) const;

    Settings settings;
    HDF5RecordingWriter writer;
    std::vector<Slot> slotPool;
    std::mutex queueMutex;
    std::condition_variable queueChanged;
    std::deque<Slot*> freeSlots;   // guarded by queueMutex
    std::deque<Slot*> filledSlots; // guarded by queueMutex, in capture order
    bool closing = false;          // guarded by queueMutex
    void noteArrival(double seconds);
    void noteInterval(double seconds);

    // Capture thread only.
    bool sawFrame = false;
    double lastTakenSeconds = 0.0;   // the time axis's start before the first frame
    double lastArrivedSeconds = 0.0; // the same for frames taken or dropped
    std::uint64_t lastDeviceUsec = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    static constexpr std::uint64_t kNever = ~std::uint64_t(0);
    std::atomic<std::uint64_t> startNs{kNever};
    std::atomic<std::uint64_t> endNs{kNever};
    std::atomic<std::uint64_t> seen{0};
    std::atomic<std::uint64_t> latestNs{0};
    std::atomic<std::uint64_t> taken{0};
    std::atomic<std::uint64_t> written{0};
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<bool> done{false};
    std::atomic<bool> writeFailed{false};
    mutable std::mutex gapMutex;
    std::vector<Gap> gapList; // guarded by gapMutex
    std::vector<double> intervals; // seconds, every frame's since the one that came before, taken or
                                   // dropped; guarded by gapMutex
    bool finished = false;
    std::string failure;
    std::thread writerThread;
};

// One line per gap of the recorder's capture on standard error ("Gap in the capture of <name>: no
// frame for 5.034 s after 2.100 s"), the first ten of them, then their count.
void reportCaptureGaps(const std::string& cameraName, const CameraRecorder& recorder);

} // namespace tavorin
