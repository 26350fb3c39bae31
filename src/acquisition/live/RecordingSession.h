#pragma once

#include "acquisition/live/CameraRecorder.h"
#include "base/NonCopyable.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavorin {

class AzureKinectReadingThread;

// Records live devices into one folder, one kinect_<serial>.h5 per device, all on one time axis
// that starts with the session. Created, polled and stopped by one thread; the devices' capture
// threads feed the recorders.
class RecordingSession : NonCopyable {
public:
    struct Options {
        std::string folder;
        bool withColor = true;
        std::uint64_t frameLimit = 0; // per device; 0: no limit
    };

    // "recordings/<yyyy-mm-dd>_<hh-mm-ss>" in local time.
    static std::string timestampedFolder();
    // The subfolder whose name makes playback read the configuration files of `set` (a, b, c,
    // velto): "OP1", "OP4", "OP7", "velto.h5"; empty for any other set.
    static std::string setSubfolder(const std::string& set);

    // Why `folder` cannot take recordings (it is created when missing); empty when it can.
    static std::string folderFault(const std::string& folder);

    // Attaches a recorder to every device that streams; they take frames from start() on. Check
    // folderFault() first.
    RecordingSession(const std::vector<std::shared_ptr<AzureKinectReadingThread>>& devices, Options options);
    // Stops if stop() was not called.
    ~RecordingSession();

    // From now on every recorder takes frames; the recordings' time axis starts here.
    void start();
    // Ends the recording of every device whose capture has ended (unplugged, failed), with a
    // message; the files of the others go on. True while some device still records.
    bool poll();
    // Ends every recording and prints what each file holds and the frames dropped. True when
    // every file was completed with every frame that was taken.
    bool stop();

    // Some recording has a gap in capture longer than CameraRecorder::kGapPeriods frame periods
    // (reported when its recording ends).
    bool hasGaps() const;
    std::size_t cameraCount() const { return cameras.size(); }
    std::uint64_t framesWritten() const;
    std::uint64_t framesDropped() const;
    // Every device has handed over a frame, taken or not (or has ended).
    bool allStreaming() const;
    // Every device has reached the frame limit (or has ended).
    bool allDone() const;

private:
    struct Camera {
        std::shared_ptr<AzureKinectReadingThread> device;
        std::string serial;
        std::shared_ptr<CameraRecorder> recorder;
        bool ended = false;
    };
    bool end(Camera& camera);
    void awaitFramesUpTo(std::uint64_t endNs) const;

    std::vector<Camera> cameras;
    bool stopped = false;
};

} // namespace tavorin
