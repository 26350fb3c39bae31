#pragma once

#include "base/NonCopyable.h"

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tavorin {

// A fixed set of threads that run one batch of jobs at a time. run(count, job) hands job(0) ..
// job(count - 1) to the workers and returns once every one has finished; the calling thread
// only waits. One caller at a time (the owner's thread); the threads (at least one) are joined
// by the destructor.
class WorkerPool : NonCopyable {
public:
    explicit WorkerPool(std::size_t threadCount);
    ~WorkerPool();

    // Rethrows, after the whole batch has finished, the first exception a job threw.
    void run(std::size_t count, const std::function<void(std::size_t)>& job);

    std::size_t threadCount() const { return threads.size(); }

private:
    void work();

    std::mutex mutex;
    std::condition_variable jobsReady;
    std::condition_variable batchDone;
    // The batch, guarded by mutex.
    const std::function<void(std::size_t)>* batchJob = nullptr;
    std::size_t batchSize = 0;
    std::size_t nextJob = 0;
    std::size_t finishedJobs = 0;
    std::exception_ptr firstFailure;
    bool stopping = false;
    std::vector<std::thread> threads;
};

} // namespace tavorin
