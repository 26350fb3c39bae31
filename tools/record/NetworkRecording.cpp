#include "NetworkRecording.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "base/Console.h"
#include "network/ros/CameraInfoCalibration.h"

#include <chrono>
#include <cmath>

using tavorin::CameraRecorder, tavorin::CapturedFrame;
namespace console = tavorin::console;

namespace {

constexpr double kNsPerSecond = 1e9;
constexpr double kUsecPerSecond = 1e6;
// A camera whose first stamp lies this far from where the first camera's clock says it should
// stamps on another clock (a node that plays recordings beside live ones), not on one that is a
// few milliseconds off.
constexpr double kOtherClockSeconds = 5.0;

std::uint64_t monotonicNs()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

// kinect_<the namespace's last part>.h5, or kinect_<the whole namespace>.h5 when another camera's
// namespace ends the same way.
std::string fileName(const std::string& nameSpace, const std::map<std::string, std::shared_ptr<CameraRecorder>>& taken)
{
    const std::size_t slash = nameSpace.find_last_of('/');
    const std::string last = slash == std::string::npos ? nameSpace : nameSpace.substr(slash + 1);
    for (const auto& [other, recorder] : taken)
        if (other != nameSpace && recorder && other.size() >= last.size()
            && other.compare(other.size() - last.size(), last.size(), last) == 0)
            return "kinect_" + tavorin::pathSafeSerial(nameSpace) + ".h5";
    return "kinect_" + tavorin::pathSafeSerial(last) + ".h5";
}

} // namespace

NetworkRecording::NetworkRecording(std::string folder_, std::uint64_t frameLimit_)
    : folder(std::move(folder_)), frameLimit(frameLimit_)
{
}

NetworkRecording::~NetworkRecording()
{
    stop();
}

void NetworkRecording::onFrame(const std::string& nameSpace, const tavorin::CameraInfoFields& model,
                               const std::uint16_t* depthMm, double stampSeconds, const std::string& frameId)
{
    std::shared_ptr<CameraRecorder> recorder;
    double axisOriginSeconds = 0.0; // on the monotonic clock, where the first frame's stamp lies
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopped)
            return;
        if (startNs == 0) {
            startNs = monotonicNs();
            firstStampSeconds = stampSeconds;
        }
        auto& slot = recorders[nameSpace];
        if (!slot) {
            CameraRecorder::Settings settings;
            settings.path = folder + "/" + fileName(nameSpace, recorders);
            settings.layout.withColor = false;
            settings.layout.cameraParameters = tavorin::cameraParameterRowFor(model);
            settings.layout.rawCalibration = tavorin::rawCalibrationBlobFor(model);
            settings.layout.rosNamespace = nameSpace;
            settings.layout.rosFrameId = frameId;
            settings.frameLimit = frameLimit;
            settings.periodFromStamps = true;
            slot = std::make_shared<CameraRecorder>(settings);
            slot->start(startNs);
            console::out("Recording network camera ", nameSpace, " to ", settings.path,
                         settings.layout.rawCalibration.empty() ? " (pinhole parameters only)" : "");
            // Cameras whose clocks agree share one axis, which keeps their offsets; one on another
            // clock begins where its first frame came.
            const double nowSeconds = static_cast<double>(monotonicNs()) / kNsPerSecond;
            double origin = static_cast<double>(startNs) / kNsPerSecond - firstStampSeconds;
            if (std::fabs(origin + stampSeconds - nowSeconds) > kOtherClockSeconds) {
                console::out("Network camera ", nameSpace, " stamps on another clock (",
                             std::lround(stampSeconds - (nowSeconds - origin)),
                             " s from the first camera's): its frames are placed from its first arrival");
                origin = nowSeconds - stampSeconds;
            }
            axisOrigins[nameSpace] = origin;
        }
        recorder = slot;
        axisOriginSeconds = axisOrigins[nameSpace];
    }
    CapturedFrame frame{};
    frame.depthMm = depthMm;
    frame.bgra = nullptr;
    frame.width = static_cast<std::int32_t>(model.width);
    frame.height = static_cast<std::int32_t>(model.height);
    frame.deviceTimestampUsec = static_cast<std::uint64_t>(std::llround(stampSeconds * kUsecPerSecond));
    frame.systemTimestampNsec = monotonicNs();
    // The time axis begins with the first frame's stamp: the stamps of a live node are on its wall
    // clock, those of a node that plays recordings on the recordings' own axis (see above).
    frame.captureSeconds = axisOriginSeconds + stampSeconds;
    recorder->onFrame(frame);
}

bool NetworkRecording::stop()
{
    std::map<std::string, std::shared_ptr<CameraRecorder>> ending;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopped)
            return true;
        stopped = true;
        ending = recorders;
    }
    bool complete = true;
    std::uint64_t dropped = 0;
    std::uint64_t missed = 0;
    for (auto& [name, recorder] : ending) {
        recorder->end(monotonicNs());
        const bool whole = recorder->finish();
        console::out("Recorded ", recorder->framesWritten(), " frames of ", name, " to ", recorder->path(), " (",
                     recorder->framesDropped(), " dropped)");
        if (!whole)
            console::err("Recording of ", name, " ended early: ", recorder->error());
        tavorin::reportCaptureGaps(name, *recorder);
        dropped += recorder->framesDropped();
        missed += recorder->framesMissed();
        complete = complete && whole;
    }
    console::out("Dropped frames: ", dropped);
    console::out("Frames that never came: ", missed);
    return complete;
}

// Any frame that never came counts, however short its gap: the network lost it.
bool NetworkRecording::hasGaps() const
{
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& [name, recorder] : recorders)
        if (!recorder->gaps().empty() || recorder->framesMissed() > 0)
            return true;
    return false;
}

bool NetworkRecording::allDone() const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (recorders.empty())
        return false;
    for (const auto& [name, recorder] : recorders)
        if (!recorder->isDone())
            return false;
    return true;
}

std::size_t NetworkRecording::cameraCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return recorders.size();
}
