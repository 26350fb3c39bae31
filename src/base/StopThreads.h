#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace tavorin {

// Ends worker threads that wait on `wake` for work or for `stop`: sets `stop` under `mutex` (so
// that no thread misses it between its look and its wait), wakes them all and joins each. The
// owner's thread, once, from its destructor.
inline void stopAndJoin(std::mutex& mutex, bool& stop, std::condition_variable& wake,
                        std::vector<std::thread>& threads)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    wake.notify_all();
    for (std::thread& thread : threads)
        thread.join();
}

} // namespace tavorin
