#include "calibration/joint/JointEstimateWorker.h"

namespace tavorin {

JointEstimateWorker::JointEstimateWorker() : thread(&JointEstimateWorker::run, this) {}

JointEstimateWorker::~JointEstimateWorker()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quitting = true;
    }
    changed.notify_all();
    thread.join();
}

bool JointEstimateWorker::start(JointCalibration problem, std::uint64_t tag)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (solving || job)
            return false;
        job.emplace(tag, std::move(problem));
    }
    changed.notify_all();
    return true;
}

std::optional<std::pair<std::uint64_t, JointEstimate>> JointEstimateWorker::takeFinished()
{
    std::lock_guard<std::mutex> lock(mutex);
    std::optional<std::pair<std::uint64_t, JointEstimate>> result = std::move(finished);
    finished.reset();
    return result;
}

bool JointEstimateWorker::busy() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return solving || job.has_value();
}

void JointEstimateWorker::wait()
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !solving && !job; });
}

void JointEstimateWorker::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return quitting || job.has_value(); });
        if (quitting)
            return;
        std::pair<std::uint64_t, JointCalibration> next = std::move(*job);
        job.reset();
        solving = true;
        lock.unlock();
        JointEstimate estimate = next.second.solve();
        lock.lock();
        finished.emplace(next.first, std::move(estimate));
        solving = false;
        changed.notify_all();
    }
}

} // namespace tavorin
