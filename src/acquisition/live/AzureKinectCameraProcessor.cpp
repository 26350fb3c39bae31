#include "acquisition/live/AzureKinectCameraProcessor.h"

#include "acquisition/live/AzureKinectReadingThread.h"
#include "acquisition/config/CameraConfigFiles.h"
#include "base/Console.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include <k4a/k4a.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <optional>
#include <thread>

namespace tavorin {

AzureKinectCameraProcessor::AzureKinectCameraProcessor()
{
    const std::uint32_t count = k4a_device_get_installed_count();
    openAll();
    console::out("Found ", count, " Azure Kinects");
}

AzureKinectCameraProcessor::~AzureKinectCameraProcessor()
{
    stopAll();
    console::out("Destructed Kinect Camera Processor.");
}

// Opens every device first, so that their sync jacks show the chain, then starts them in the order
// the chain needs (subordinates before their master), each in its role. The members of the chain
// share the master's device clock, and so one CaptureClock.
void AzureKinectCameraProcessor::openAll()
{
    const std::uint32_t count = k4a_device_get_installed_count();
    std::vector<std::shared_ptr<AzureKinectReadingThread>> opened;
    std::vector<SyncJacks> jacks;
    std::vector<std::string> serials;
    for (std::uint32_t index = 0; index < count; ++index) {
        auto thread = std::make_shared<AzureKinectReadingThread>(index);
        if (!thread->openDevice()) {
            unopened.push_back(std::move(thread));
            continue;
        }
        jacks.push_back(thread->readSyncJacks().value_or(SyncJacks{}));
        serials.push_back(thread->serialNumber());
        opened.push_back(std::move(thread));
    }
    const SyncPlan syncPlan = planSyncChain(jacks, serials);
    if (!opened.empty())
        console::out(syncPlan.description);
    const auto chainClock = std::make_shared<CaptureClock>();
    for (std::size_t i : syncPlan.startOrder) {
        const bool wired = syncPlan.devices[i].role != SyncRole::Standalone;
        const auto clock = wired ? chainClock : std::make_shared<CaptureClock>(CaptureClock::Origin::LeastLatency);
        if (opened[i]->start(syncPlan.devices[i], clock))
            threads.push_back(opened[i]);
        else
            unopened.push_back(opened[i]);
    }
    std::sort(threads.begin(), threads.end(), [](const auto& a, const auto& b) { return a->index() < b->index(); });
    scannedCount = count;
    indicesMayHaveMoved = false;
}

void AzureKinectCameraProcessor::stopAll()
{
    for (const auto& thread : threads)
        thread->requestStop();
    for (const auto& thread : threads)
        thread->stop();
}

void AzureKinectCameraProcessor::process(SceneState& state)
{
    state.cameras.clear();
    rescanIfDue();
    collectRecords(state);
}

// With more devices attached than running, the devices that no thread holds are tried again, and
// the running ones keep streaming. Only when the attached devices have changed since the threads
// were opened, so that a running device may now sit at another index, are all of them restarted.
void AzureKinectCameraProcessor::rescanIfDue()
{
    constexpr std::int64_t kNsPerUs = 1000;
    constexpr float kUsPerSecond = 1e6f;
    const std::int64_t now = monotonicNs();
    const float elapsedSeconds = static_cast<float>((now - lastScanTime) / kNsPerUs) / kUsPerSecond;
    if (elapsedSeconds <= rescanInterval)
        return;
    lastScanTime = now;
    restartUntriggeredSubordinates();
    const std::uint32_t count = k4a_device_get_installed_count();
    if (count != scannedCount)
        indicesMayHaveMoved = true;
    scannedCount = count;
    if (count <= threads.size())
        return;
    if (indicesMayHaveMoved)
        restartAll();
    else
        openUnheldDevices(count);
}

// A subordinate whose sync-in cable has been pulled gets no more triggers: it is restarted on its
// own clock, and says so.
void AzureKinectCameraProcessor::restartUntriggeredSubordinates()
{
    for (std::shared_ptr<AzureKinectReadingThread>& thread : threads) {
        if (thread->sync().role != SyncRole::Subordinate)
            continue;
        const std::optional<SyncJacks> jacks = thread->readSyncJacks();
        if (!jacks || jacks->syncIn)
            continue;
        console::out("Wired sync: ", thread->serialNumber(),
                     " lost its sync-in cable; it continues standalone");
        const std::uint32_t index = thread->index();
        thread->stop();
        auto standalone = std::make_shared<AzureKinectReadingThread>(index);
        if (standalone->open())
            thread = std::move(standalone);
    }
}

std::string AzureKinectCameraProcessor::syncMode() const
{
    if (threads.empty())
        return std::string(); // no camera to be wired
    SyncPlan current;
    for (const auto& thread : threads)
        current.devices.push_back(thread->sync());
    return tavorin::syncModeText(current);
}

void AzureKinectCameraProcessor::restartAll()
{
    stopAll();
    threads.clear();
    unopened.clear();
    openAll();
}

// Devices keep their indices here (the attached devices have not changed), and a thread that has
// ended still holds its index until collectRecords drops it.
void AzureKinectCameraProcessor::openUnheldDevices(std::uint32_t count)
{
    for (std::uint32_t index = 0; index < count; ++index) {
        if (holdsIndex(index))
            continue;
        std::shared_ptr<AzureKinectReadingThread> thread = unopenedAt(index);
        if (!thread->open())
            continue;
        unopened.erase(std::find(unopened.begin(), unopened.end(), thread));
        threads.push_back(std::move(thread));
    }
}

bool AzureKinectCameraProcessor::holdsIndex(std::uint32_t index) const
{
    return std::any_of(threads.begin(), threads.end(),
                       [index](const auto& thread) { return thread->index() == index; });
}

// The kept object of a device that did not open, or a new one (which prints its first attempt).
std::shared_ptr<AzureKinectReadingThread> AzureKinectCameraProcessor::unopenedAt(std::uint32_t index)
{
    const auto kept = std::find_if(unopened.begin(), unopened.end(),
                                   [index](const auto& thread) { return thread->index() == index; });
    if (kept != unopened.end())
        return *kept;
    unopened.push_back(std::make_shared<AzureKinectReadingThread>(index));
    return unopened.back();
}

void AzureKinectCameraProcessor::collectRecords(SceneState& state)
{
    for (std::size_t i = 0; i < threads.size();) {
        AzureKinectReadingThread& thread = *threads[i];
        if (thread.isStopRequested()) {
            thread.stop();
            threads.erase(threads.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (float* points = thread.points()) {
            DepthCameraData record;
            record.modelMatrix = thread.modelMatrix;
            record.depthCorrection = thread.depthCorrection();
            record.removedDepthCorrection = thread.removedDepthCorrection();
            record.sourceName = thread.serialNumber();
            record.configPath = liveCameraConfigPath(thread.serialNumber());
            record.points = points;
            record.colors = thread.colors();
            record.hasPointCloud = true;
            record.hasColor = true;
            record.width = thread.width();
            record.height = thread.height();
            record.timestamp = thread.captureSeconds();
            state.cameras.push_back(std::make_shared<DepthCameraData>(record));
        }
        ++i;
    }
}

// Wired cameras capture together, but their capture threads publish a moment apart (each renders
// its own frame): holding the newest frames while one camera is still on the previous capture would
// cost the cycle its frame set. So a chain's frames are held again until their capture times line
// up, for at most about a frame period (lineUpWait); standalone cameras never line up and are held
// as they are.
void AzureKinectCameraProcessor::holdFrames(SceneState& state)
{
    constexpr auto kLineUpPoll = std::chrono::milliseconds(2);
    const auto deadline = std::chrono::steady_clock::now() + lineUpWait;
    for (;;) {
        holdNewestFrames(state);
        if (!allWired() || capturesLineUp() || std::chrono::steady_clock::now() >= deadline)
            return;
        releaseFrames();
        std::this_thread::sleep_for(kLineUpPoll);
    }
}

// Standalone cameras: each camera's capture after the one its record holds, so that the cycle
// gets every camera's next frame, as a view rendering at the cameras' rate would.
bool AzureKinectCameraProcessor::holdNextFrames(SceneState& state)
{
    constexpr auto kPoll = std::chrono::milliseconds(2);
    if (threads.size() < 2 || allWired())
        return false;
    std::vector<double> heldTimes;
    for (const auto& thread : threads) {
        const auto record = std::find_if(state.cameras.begin(), state.cameras.end(),
                                         [&](const auto& r) { return r->points == thread->points(); });
        if (record == state.cameras.end() || !(*record)->timestamp)
            return false;
        heldTimes.push_back(*(*record)->timestamp);
    }
    const auto published = [&] {
        for (std::size_t i = 0; i < threads.size(); ++i)
            if (threads[i]->captureSeconds().value_or(0.0) <= heldTimes[i])
                return false;
        return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + nextFramesWait;
    while (!published()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPoll);
    }
    holdNewestFrames(state);
    return true;
}

void AzureKinectCameraProcessor::holdNewestFrames(SceneState& state)
{
    releaseFrames();
    for (const auto& thread : threads) {
        heldFrames.push_back(thread->holdFrame());
        for (const std::shared_ptr<DepthCameraData>& record : state.cameras)
            if (record->points == thread->points()) {
                // The held frame's own: a correction changed since the record was made is put back
                // by the calibration as it was removed from these points.
                record->timestamp = thread->captureSeconds();
                record->removedDepthCorrection = thread->removedDepthCorrection();
            }
    }
}

bool AzureKinectCameraProcessor::allWired() const
{
    return threads.size() > 1
        && std::all_of(threads.begin(), threads.end(), [](const auto& t) { return t->sync().role != SyncRole::Standalone; });
}

// The held captures lie within a millisecond plus the chain's exposure offsets of each other.
bool AzureKinectCameraProcessor::capturesLineUp() const
{
    constexpr double kSameCapture = 0.001; // seconds
    constexpr double kSecondsPerUsec = 1e-6;
    double earliest = 0.0;
    double latest = 0.0;
    std::uint32_t largestDelayUsec = 0;
    for (std::size_t i = 0; i < threads.size(); ++i) {
        const std::optional<double> t = threads[i]->captureSeconds();
        if (!t)
            return false;
        earliest = i == 0 ? *t : std::min(earliest, *t);
        latest = i == 0 ? *t : std::max(latest, *t);
        largestDelayUsec = std::max(largestDelayUsec, threads[i]->sync().subordinateDelayUsec);
    }
    return latest - earliest <= kSameCapture + largestDelayUsec * kSecondsPerUsec;
}

void AzureKinectCameraProcessor::releaseFrames()
{
    heldFrames.clear();
}

void AzureKinectCameraProcessor::setDepthCorrection(std::string name, const DepthCorrection& correction)
{
    for (const auto& thread : threads)
        if (thread->serialNumber() == name) {
            thread->setDepthCorrection(correction);
            return;
        }
}

void AzureKinectCameraProcessor::setModelMatrix(std::string name, const Mat4& matrix)
{
    for (const auto& thread : threads)
        if (thread->serialNumber() == name) {
            thread->modelMatrix = matrix;
            return;
        }
}

} // namespace tavorin
