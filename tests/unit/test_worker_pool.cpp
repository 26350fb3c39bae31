#include "calibration/cycle/WorkerPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

using tavorin::WorkerPool;

namespace {

// Every job of every batch runs exactly once, on the pool's threads and never on the caller's.
TEST(WorkerPool, RunsEveryJobOnceOnItsOwnThreads)
{
    struct Case {
        std::size_t threads;
        std::size_t jobs;
    };
    constexpr int kBatches = 3;
    for (const Case& c : {Case{1, 1}, Case{1, 5}, Case{3, 3}, Case{3, 8}, Case{2, 0}, Case{0, 2}}) {
        WorkerPool pool(c.threads);
        for (int batch = 0; batch < kBatches; ++batch) {
            std::vector<int> runs(c.jobs, 0);
            std::mutex idsMutex;
            std::set<std::thread::id> ids;
            pool.run(c.jobs, [&](std::size_t i) {
                ++runs[i]; // each index is handed out once, so only one thread writes it
                std::lock_guard<std::mutex> lock(idsMutex);
                ids.insert(std::this_thread::get_id());
            });
            EXPECT_EQ(std::vector<int>(c.jobs, 1), runs) << c.threads << " threads, " << c.jobs << " jobs";
            EXPECT_EQ(0u, ids.count(std::this_thread::get_id()));
            EXPECT_LE(ids.size(), std::max<std::size_t>(c.threads, 1)) << "a pool of none has one thread";
        }
    }
}

// The jobs of one batch run at the same time: each waits until all have started, which a pool
// that ran them one after another would never see.
TEST(WorkerPool, RunsTheJobsOfABatchAtOnce)
{
    constexpr std::size_t kJobs = 3;
    constexpr auto kPatience = std::chrono::seconds(10);
    WorkerPool pool(kJobs);
    std::mutex mutex;
    std::condition_variable arrived;
    std::size_t started = 0;
    std::atomic<int> metAll{0};
    pool.run(kJobs, [&](std::size_t) {
        std::unique_lock<std::mutex> lock(mutex);
        ++started;
        arrived.notify_all();
        if (arrived.wait_for(lock, kPatience, [&] { return started == kJobs; }))
            ++metAll;
    });
    EXPECT_EQ(static_cast<int>(kJobs), metAll.load());
}

// A job's exception reaches the caller once the rest of the batch has run; the pool goes on.
TEST(WorkerPool, AJobsExceptionReachesTheCallerAfterItsBatch)
{
    WorkerPool pool(2);
    std::atomic<int> finished{0};
    EXPECT_THROW(pool.run(6,
                          [&](std::size_t i) {
                              if (i == 2)
                                  throw std::runtime_error("job 2");
                              ++finished;
                          }),
                 std::runtime_error);
    EXPECT_EQ(5, finished.load());
    pool.run(4, [&](std::size_t) { ++finished; });
    EXPECT_EQ(9, finished.load());
}

} // namespace
