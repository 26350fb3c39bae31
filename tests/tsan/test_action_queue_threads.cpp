// Built with ThreadSanitizer on its own: the GUI-thread producer and the render-thread consumer of
// the action queue must not race, and an action must see what the producer wrote before enqueueing.
#include "scene/OrvoAction.h"
#include "scene/SceneState.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using tavorin::DepthCameraProcessor, tavorin::OrvoAction, tavorin::SceneState;

namespace {

class PayloadAction : public OrvoAction {
public:
    PayloadAction(std::vector<int>& log, int value) : log(log), payload(value) {}
    void execute(SceneState&, std::shared_ptr<DepthCameraProcessor>&) override { log.push_back(payload); }

    std::vector<int>& log; // consumer thread only
    int payload;           // written by the producer before enqueue, read by the consumer
};

} // namespace

TEST(ActionQueueThreads, ConcurrentEnqueueAndStepAreRaceFree)
{
    constexpr int kActions = 5000;
    SceneState state;
    std::vector<int> log;
    std::atomic<bool> producing{true};

    std::thread renderThread([&] {
        while (producing.load(std::memory_order_acquire) || state.pendingActions() > 0)
            state.step();
    });
    for (int i = 0; i < kActions; ++i)
        state.enqueue(std::make_shared<PayloadAction>(log, i));
    producing.store(false, std::memory_order_release);
    renderThread.join();

    ASSERT_EQ(log.size(), static_cast<std::size_t>(kActions));
    for (int i = 0; i < kActions; ++i)
        ASSERT_EQ(log[static_cast<std::size_t>(i)], i);
}
