#pragma once

#include "acquisition/live/RecordingSession.h"
#include "base/NonCopyable.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavorin {

class AzureKinectReadingThread;

// The window's recording of its live cameras. The render thread offers the devices that stream
// (offerDevices); the GUI thread starts, polls and stops the recording. Every operation takes one
// lock, so any thread may call any of them.
class LiveRecording : NonCopyable {
public:
    LiveRecording() = default;
    // Ends a recording that still runs, completing its files.
    ~LiveRecording();

    // The live devices that stream now; an empty list when the depth source is not live.
    void offerDevices(std::vector<std::shared_ptr<AzureKinectReadingThread>> devices);
    std::size_t liveCameraCount() const;

    // Records the devices offered last into `folder`. False, with the reason on standard error,
    // when none streams, one recording runs already or the folder cannot be written.
    bool start(const std::string& folder);
    // Ends the recording; true when every file was completed.
    bool stop();
    // Ends the recording of devices that stopped; the whole recording once none is left.
    void poll();

    bool isRecording() const;
    double elapsedSeconds() const;
    std::uint64_t framesWritten() const;
    std::string folder() const;

private:
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<AzureKinectReadingThread>> offered;
    std::unique_ptr<RecordingSession> session;
    std::chrono::steady_clock::time_point started;
    std::string recordingFolder;
};

} // namespace tavorin
