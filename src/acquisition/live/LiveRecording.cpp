#include "acquisition/live/LiveRecording.h"

#include "acquisition/live/AzureKinectReadingThread.h"
#include "base/Console.h"

namespace tavorin {

LiveRecording::~LiveRecording()
{
    stop();
}

void LiveRecording::offerDevices(std::vector<std::shared_ptr<AzureKinectReadingThread>> devices)
{
    std::lock_guard<std::mutex> lock(mutex);
    offered = std::move(devices);
}

std::size_t LiveRecording::liveCameraCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return offered.size();
}

bool LiveRecording::start(const std::string& folder)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (session)
        return false;
    if (offered.empty()) {
        console::err("Cannot record: no live camera streams.");
        return false;
    }
    const std::string fault = RecordingSession::folderFault(folder);
    if (!fault.empty()) {
        console::err("Cannot record: ", fault);
        return false;
    }
    session = std::make_unique<RecordingSession>(offered, RecordingSession::Options{folder, true, 0});
    session->start();
    started = std::chrono::steady_clock::now();
    recordingFolder = folder;
    console::out("Recording ", session->cameraCount(), " cameras to ", folder);
    return true;
}

bool LiveRecording::stop()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!session)
        return true;
    const bool complete = session->stop();
    session.reset();
    return complete;
}

void LiveRecording::poll()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (session && !session->poll()) {
        session->stop();
        session.reset();
    }
}

bool LiveRecording::isRecording() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return session != nullptr;
}

double LiveRecording::elapsedSeconds() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return session ? std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() : 0.0;
}

std::uint64_t LiveRecording::framesWritten() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return session ? session->framesWritten() : 0;
}

std::string LiveRecording::folder() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recordingFolder;
}

} // namespace tavorin
