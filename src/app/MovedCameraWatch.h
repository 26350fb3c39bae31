#pragma once

#include "acquisition/config/StillViewReference.h"
#include "app/MovedCameraReport.h"
#include "app/StillViewCheck.h"
#include "base/NonCopyable.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tavorin {

struct DepthCameraData;

// The window's moved-camera check: while the cameras stream and no registration runs, every few
// seconds it gathers the next 45 frames of every camera that has a matrix file (on the render
// thread, from the records the source just filled), and a thread of its own takes each camera's
// still view and registers it against the camera's reference, as tavorin-check does. The console
// says a camera's verdict when it changes; the listener gets every check.
// Render thread: collect. GUI thread: takeFixableMotion, latestStillView, referenceStored.
class MovedCameraWatch : NonCopyable {
public:
    using Listener = std::function<void(const std::vector<MovedCameraCheck>&)>;

    // `listener` is called on the check's thread after every check of all cameras.
    explicit MovedCameraWatch(Listener listener);
    ~MovedCameraWatch(); // waits for a running check

    // Render thread, once per frame with the frame lock held, after the source refilled the
    // records. While `registering`, nothing is gathered, and the matrices count as placed anew
    // until their references are stored again (referenceStored).
    void collect(const std::vector<std::shared_ptr<DepthCameraData>>& cameras, bool registering);

    // GUI thread (Fix): when the last two checks found the camera moved alike and its matrix is
    // still the one its reference was stored with, the motion found (T_reference_current), and from now on
    // the still view of that check is the camera's reference in memory, until it is stored.
    // `correction`: the camera's, recorded with that reference.
    std::optional<DriftEstimate> takeFixableMotion(const std::string& configPath, const DepthCorrection& correction);
    // The still view of the camera's latest check, for a store; nothing before the first.
    std::optional<CameraStillView> latestStillView(const std::string& configPath) const;
    // Whether the camera's last check found it moved and neither a Fix nor a registration placed
    // it anew since: its still view is then no reference for its matrix.
    bool movedUnfixed(const std::string& configPath) const;
    // The camera's reference was stored: later checks compare with the file again.
    void referenceStored(const std::string& configPath);

private:
    // One camera's frames of the round being gathered; render thread.
    struct Gathering {
        std::string configPath;
        std::string name;
        std::size_t index = 0;
        std::unique_ptr<DepthStack> stack;
        std::optional<double> lastTimestamp;
    };
    // What the check's thread knows of a camera; guarded by mutex.
    struct Known {
        std::optional<CameraStillView> still;
        std::optional<StillViewReference> adopted; // the reference in memory after a Fix
        bool moved = false;
        // Moved by the same motion in its last two checks: a check whose frames straddle the
        // moment the camera moved sees part of the motion, and is no base for a Fix.
        bool settled = false;
        DriftEstimate motion; // of the last check
        std::uint64_t fixes = 0; // a check begun before the last Fix does not count
        std::uint64_t registrationsAtReference = 0; // its matrix belongs to its reference while equal
    };
    // A camera's gathered frames on their way to the check.
    struct Job {
        std::string configPath;
        std::string name;
        std::size_t index = 0;
        std::unique_ptr<DepthStack> stack;
    };

    void startRound(const std::vector<std::shared_ptr<DepthCameraData>>& cameras);
    void gather(const std::vector<std::shared_ptr<DepthCameraData>>& cameras);
    void handOver();
    void run();
    std::optional<MovedCameraCheck> check(Job& job);

    Listener listener;
    // Render thread.
    std::vector<Gathering> round;
    std::chrono::steady_clock::time_point roundStart;
    std::chrono::steady_clock::time_point nextRound;
    bool wasRegistering = false;
    // The check's thread.
    MovedCameraReport report;

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::vector<Job> jobs;             // guarded by mutex
    bool checking = false;             // guarded by mutex: jobs taken, not finished
    bool stop = false;                 // guarded by mutex
    std::uint64_t registrations = 0;   // guarded by mutex: how often registration has run
    std::map<std::string, Known> known; // guarded by mutex, by matrix file
    std::vector<std::thread> threads;  // the one check thread
};

} // namespace tavorin
