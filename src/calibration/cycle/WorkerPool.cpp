#include "calibration/cycle/WorkerPool.h"

#include "base/StopThreads.h"

#include <algorithm>

namespace tavorin {

WorkerPool::WorkerPool(std::size_t threadCount)
{
    const std::size_t count = std::max<std::size_t>(threadCount, 1);
    threads.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        threads.emplace_back(&WorkerPool::work, this);
}

WorkerPool::~WorkerPool()
{
    stopAndJoin(mutex, stopping, jobsReady, threads);
}

void WorkerPool::run(std::size_t count, const std::function<void(std::size_t)>& job)
{
    if (count == 0)
        return;
    std::unique_lock<std::mutex> lock(mutex);
    batchJob = &job;
    batchSize = count;
    nextJob = 0;
    finishedJobs = 0;
    firstFailure = nullptr;
    jobsReady.notify_all();
    batchDone.wait(lock, [this] { return finishedJobs == batchSize; });
    batchJob = nullptr;
    batchSize = 0;
    if (firstFailure)
        std::rethrow_exception(std::exchange(firstFailure, nullptr));
}

// Worker thread: takes the batch's jobs one index at a time until the pool stops.
void WorkerPool::work()
{
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        jobsReady.wait(lock, [this] { return stopping || nextJob < batchSize; });
        if (nextJob >= batchSize)
            return;
        const std::size_t index = nextJob++;
        const std::function<void(std::size_t)>& job = *batchJob;
        lock.unlock();
        std::exception_ptr failure;
        try {
            job(index);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure && !firstFailure)
            firstFailure = failure;
        if (++finishedJobs == batchSize)
            batchDone.notify_one();
    }
}

} // namespace tavorin
