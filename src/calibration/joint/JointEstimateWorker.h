#pragma once

#include "base/NonCopyable.h"
#include "calibration/joint/JointCalibration.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace tavorin {

// Solves joint estimates on a thread of its own, one at a time, so that the calibration cycle
// never waits for one: the owner hands over a copy of the frame sets and later takes the result.
// Owner: one thread (the render thread); the destructor waits for a running solve.
class JointEstimateWorker : NonCopyable {
public:
    JointEstimateWorker();
    ~JointEstimateWorker();

    // Starts solving `problem` unless a solve is running (then false). `tag` comes back with the
    // result, so that the owner can tell a result that no longer fits its cameras.
    bool start(JointCalibration problem, std::uint64_t tag);
    // The newest finished estimate and its tag, once.
    std::optional<std::pair<std::uint64_t, JointEstimate>> takeFinished();
    bool busy() const;
    // Until no solve runs.
    void wait();

private:
    void run();

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::pair<std::uint64_t, JointCalibration>> job;       // guarded by mutex
    std::optional<std::pair<std::uint64_t, JointEstimate>> finished;     // guarded by mutex
    bool solving = false;                                                // guarded by mutex
    bool quitting = false;                                               // guarded by mutex
    std::thread thread;
};

} // namespace tavorin
