#include "acquisition/live/RecordingSession.h"

#include "acquisition/live/AzureKinectReadingThread.h"
#include "acquisition/config/CameraConfigFiles.h"
#include "acquisition/model/PinholeParameters.h"
#include "base/Console.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

namespace tavorin {

namespace {

std::uint64_t monotonicNowNs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

} // namespace

std::string RecordingSession::timestampedFolder()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[32];
    std::strftime(name, sizeof(name), "%Y-%m-%d_%H-%M-%S", &local);
    return std::string("recordings/") + name;
}

std::string RecordingSession::setSubfolder(const std::string& set)
{
    if (set == "a")
        return "OP1";
    if (set == "b")
        return "OP4";
    if (set == "c")
        return "OP7";
    if (set == "velto")
        return "velto.h5";
    return std::string();
}

std::string RecordingSession::folderFault(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        return "cannot create " + folder + ": " + error.message();
    if (!std::filesystem::is_directory(folder, error))
        return folder + " is not a folder";
    const std::string probe = folder + "/.tavorin-record-" + std::to_string(getpid());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot write to " + folder + ": " + std::strerror(errno);
    const char byte = 0;
    const bool written = ::write(fd, &byte, 1) == 1;
    const int writeErrno = errno;
    ::close(fd);
    ::unlink(probe.c_str());
    return written ? std::string() : "cannot write to " + folder + ": " + std::strerror(writeErrno);
}

RecordingSession::RecordingSession(const std::vector<std::shared_ptr<AzureKinectReadingThread>>& devices,
                                   Options options)
{
    for (const std::shared_ptr<AzureKinectReadingThread>& device : devices) {
        if (!device || device->isStopRequested())
            continue;
        CameraRecorder::Settings settings;
        settings.path = options.folder + "/kinect_" + pathSafeSerial(device->serialNumber()) + ".h5";
        settings.layout.withColor = options.withColor;
        settings.layout.rawCalibration = device->rawCalibration();
        settings.layout.cameraParameters = pinholeParameters(device->deviceCalibration());
        settings.layout.width = device->deviceCalibration().depth_camera_calibration.resolution_width;
        settings.layout.height = device->deviceCalibration().depth_camera_calibration.resolution_height;
        settings.frameLimit = options.frameLimit;
        Camera camera{device, device->serialNumber(), std::make_shared<CameraRecorder>(settings)};
        device->setFrameSink(camera.recorder);
        cameras.push_back(std::move(camera));
    }
}

RecordingSession::~RecordingSession()
{
    stop();
}

void RecordingSession::start()
{
    const std::uint64_t now = monotonicNowNs();
    for (Camera& camera : cameras)
        camera.recorder->start(now);
}

bool RecordingSession::poll()
{
    bool recording = false;
    for (Camera& camera : cameras) {
        if (!camera.ended && camera.device->isStopRequested()) {
            console::err("Camera ", camera.serial, " stopped delivering frames; its recording ends with ",
                         camera.recorder->framesTaken(), " frames.");
            end(camera);
        }
        recording = recording || !camera.ended;
    }
    return recording;
}

// Detaches the recorder and completes its file, with one line on what it holds.
bool RecordingSession::end(Camera& camera)
{
    if (camera.ended)
        return true;
    camera.ended = true;
    camera.device->setFrameSink(nullptr);
    const bool complete = camera.recorder->finish();
    CameraRecorder& recorder = *camera.recorder;
    if (recorder.framesWritten() > 0)
        console::out("Recorded ", recorder.framesWritten(), " frames of ", camera.serial, " to ", recorder.path(),
                     " (", recorder.framesDropped(), " dropped)");
    if (!complete)
        console::err("Recording of ", camera.serial, " ended early: ", recorder.error());
    reportCaptureGaps(camera.serial, *camera.recorder);
    return complete;
}

// Frames reach the sink a little after their system time, later still from a device that lags
// behind (a virtual one on a busy host): every recording ends with the same instant only once each
// device has handed over its frames up to `endNs`.
void RecordingSession::awaitFramesUpTo(std::uint64_t endNs) const
{
    constexpr std::chrono::seconds kLongestWait{10};
    constexpr std::chrono::milliseconds kPoll{5};
    const auto giveUp = std::chrono::steady_clock::now() + kLongestWait;
    const auto behind = [this, endNs] {
        for (const Camera& camera : cameras)
            if (!camera.ended && !camera.device->isStopRequested() && !camera.recorder->isDone()
                && camera.recorder->latestSystemNs() < endNs)
                return true;
        return false;
    };
    while (behind() && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(kPoll);
}

bool RecordingSession::stop()
{
    if (stopped)
        return true;
    stopped = true;
    const std::uint64_t now = monotonicNowNs();
    for (Camera& camera : cameras)
        camera.recorder->end(now);
    awaitFramesUpTo(now);
    bool complete = true;
    for (Camera& camera : cameras)
        complete = end(camera) && complete;
    console::out("Dropped frames: ", framesDropped());
    return complete;
}

bool RecordingSession::hasGaps() const
{
    for (const Camera& camera : cameras)
        if (!camera.recorder->gaps().empty())
            return true;
    return false;
}

std::uint64_t RecordingSession::framesWritten() const
{
    std::uint64_t total = 0;
    for (const Camera& camera : cameras)
        total += camera.recorder->framesWritten();
    return total;
}

std::uint64_t RecordingSession::framesDropped() const
{
    std::uint64_t total = 0;
    for (const Camera& camera : cameras)
        total += camera.recorder->framesDropped();
    return total;
}

bool RecordingSession::allDone() const
{
    for (const Camera& camera : cameras)
        if (!camera.ended && !camera.recorder->isDone())
            return false;
    return true;
}

bool RecordingSession::allStreaming() const
{
    for (const Camera& camera : cameras)
        if (!camera.ended && camera.recorder->framesSeen() == 0)
            return false;
    return true;
}

} // namespace tavorin
