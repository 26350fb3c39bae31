#include "app/MovedCameraWatch.h"

#include "base/Console.h"
#include "base/StopThreads.h"
#include "scene/DepthCameraData.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace tavorin {

namespace {

// A round of frames begins this long after the last check ended.
constexpr auto kCheckInterval = std::chrono::seconds(5);
// Frames are taken as the view draws them: 45 of them take 1.5 s at 30 fps, and 15 s where the view
// is drawn in software at 3 frames a second. A round that has not gathered every camera's frames
// by then (a paused recording, a camera that stopped) is checked with the cameras that have enough.
constexpr auto kRoundLimit = std::chrono::seconds(20);
constexpr std::int32_t kMinFrames = 10;
// The check is background work: the capture threads and the view come first.
constexpr int kCheckNiceness = 5;

// Two checks found the same motion when they differ by less than what counts as a motion.
bool sameMotion(const DriftEstimate& a, const DriftEstimate& b)
{
    const DriftLimits limits;
    return std::abs(a.turnDeg - b.turnDeg) < limits.turnDeg && std::abs(a.shiftMm - b.shiftMm) < limits.shiftMm;
}

} // namespace

MovedCameraWatch::MovedCameraWatch(Listener listener_) : listener(std::move(listener_))
{
    nextRound = std::chrono::steady_clock::now() + kCheckInterval;
    threads.emplace_back([this] { run(); });
}

MovedCameraWatch::~MovedCameraWatch()
{
    stopAndJoin(mutex, stop, wake, threads);
}

void MovedCameraWatch::collect(const std::vector<std::shared_ptr<DepthCameraData>>& cameras, bool registering)
{
    if (registering) {
        if (!wasRegistering) {
            std::lock_guard<std::mutex> lock(mutex);
            ++registrations;
        }
        wasRegistering = true;
        round.clear();
        return;
    }
    wasRegistering = false;
    const auto now = std::chrono::steady_clock::now();
    if (round.empty()) {
        if (now < nextRound)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (checking || !jobs.empty())
                return;
        }
        startRound(cameras);
        roundStart = now;
        if (round.empty()) {
            nextRound = now + kCheckInterval;
            return;
        }
    }
    gather(cameras);
    const bool complete = std::all_of(round.begin(), round.end(),
                                      [](const Gathering& g) { return g.stack->frames() >= kStillViewFrames; });
    if (complete || now - roundStart > kRoundLimit)
        handOver();
}

void MovedCameraWatch::startRound(const std::vector<std::shared_ptr<DepthCameraData>>& cameras)
{
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const DepthCameraData* camera = cameras[i].get();
        if (!camera || camera->configPath.empty() || camera->width <= 0 || camera->height <= 0)
            continue;
        round.push_back({camera->configPath, camera->sourceName, i,
                         std::make_unique<DepthStack>(camera->width, camera->height, kStillViewFrames), std::nullopt});
    }
}

// A camera's record holds a new frame when its capture time changed; a source that gives none
// gives a frame per step.
void MovedCameraWatch::gather(const std::vector<std::shared_ptr<DepthCameraData>>& cameras)
{
    for (Gathering& g : round) {
        const auto found = std::find_if(cameras.begin(), cameras.end(), [&](const auto& camera) {
            return camera && camera->configPath == g.configPath;
        });
        if (found == cameras.end())
            continue;
        const DepthCameraData& camera = **found;
        if (!camera.points || camera.width != g.stack->width() || camera.height != g.stack->height())
            continue;
        if (camera.timestamp && g.lastTimestamp && *camera.timestamp == *g.lastTimestamp)
            continue;
        g.lastTimestamp = camera.timestamp;
        g.index = static_cast<std::size_t>(found - cameras.begin());
        g.stack->add(camera.points, camera.removedDepthCorrection);
    }
}

void MovedCameraWatch::handOver()
{
    std::vector<Job> ready;
    for (Gathering& g : round)
        if (g.stack->frames() >= kMinFrames)
            ready.push_back({std::move(g.configPath), std::move(g.name), g.index, std::move(g.stack)});
    round.clear();
    nextRound = std::chrono::steady_clock::now() + kCheckInterval;
    if (ready.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        jobs = std::move(ready);
    }
    wake.notify_all();
}

void MovedCameraWatch::run()
{
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kCheckNiceness);
    for (;;) {
        std::vector<Job> taken;
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [this] { return stop || !jobs.empty(); });
            if (stop)
                return;
            taken = std::move(jobs);
            jobs.clear();
            checking = true;
        }
        std::vector<MovedCameraCheck> checks;
        for (Job& job : taken) {
            std::optional<MovedCameraCheck> checked = check(job);
            if (!checked)
                continue;
            const std::string line = report.lineFor(*checked);
            if (!line.empty())
                console::out(line);
            checks.push_back(std::move(*checked));
        }
        if (listener)
            listener(checks);
        std::lock_guard<std::mutex> lock(mutex);
        checking = false;
    }
}

// Check's thread: the still view against the reference in memory after a Fix, else the stored one.
// Nothing when the camera was fixed or stored meanwhile: it compared with a reference gone.
std::optional<MovedCameraCheck> MovedCameraWatch::check(Job& job)
{
    MovedCameraCheck result{job.configPath, job.name, job.index, {}, false};
    CameraStillView still = cameraStillView(*job.stack);
    job.stack.reset();
    std::optional<StillViewReference> adopted;
    std::uint64_t fixes = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const Known& camera = known[job.configPath];
        adopted = camera.adopted;
        fixes = camera.fixes;
    }
    result.check = adopted ? checkAgainstReference(*adopted, still, DriftLimits{})
                           : checkAgainstStoredReference(job.configPath, still, DriftLimits{});
    std::lock_guard<std::mutex> lock(mutex);
    Known& camera = known[job.configPath];
    if (camera.fixes != fixes)
        return std::nullopt;
    const bool movedBefore = camera.moved;
    const DriftEstimate before = camera.motion;
    camera.moved = result.check.verdict == DriftVerdict::Moved;
    camera.motion = result.check.estimate;
    camera.still = std::move(still);
    camera.settled = camera.moved && movedBefore && sameMotion(before, camera.motion);
    result.fixable = camera.settled && camera.registrationsAtReference == registrations;
    return result;
}

std::optional<DriftEstimate> MovedCameraWatch::takeFixableMotion(const std::string& configPath,
                                                                 const DepthCorrection& correction)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = known.find(configPath);
    if (found == known.end() || !found->second.settled || !found->second.still
        || found->second.registrationsAtReference != registrations)
        return std::nullopt;
    Known& camera = found->second;
    camera.adopted = referenceOf(*camera.still, correction);
    camera.moved = false;
    camera.settled = false;
    ++camera.fixes;
    return camera.motion;
}

std::optional<CameraStillView> MovedCameraWatch::latestStillView(const std::string& configPath) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = known.find(configPath);
    return found == known.end() ? std::nullopt : found->second.still;
}

bool MovedCameraWatch::movedUnfixed(const std::string& configPath) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = known.find(configPath);
    return found != known.end() && found->second.moved && found->second.registrationsAtReference == registrations;
}

void MovedCameraWatch::referenceStored(const std::string& configPath)
{
    std::lock_guard<std::mutex> lock(mutex);
    Known& camera = known[configPath];
    camera.adopted.reset();
    camera.moved = false;
    camera.settled = false;
    ++camera.fixes;
    camera.registrationsAtReference = registrations;
}

} // namespace tavorin
