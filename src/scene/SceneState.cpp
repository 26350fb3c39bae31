#include "scene/SceneState.h"

#include "scene/DepthCameraProcessor.h"
#include "scene/OrvoAction.h"

namespace tavorin {

void SceneState::enqueue(std::shared_ptr<OrvoAction> action)
{
    std::lock_guard<std::mutex> lock(queueMutex);
    actionQueue.push_back(std::move(action));
}

std::size_t SceneState::pendingActions() const
{
    std::lock_guard<std::mutex> lock(queueMutex);
    return actionQueue.size();
}

void SceneState::step()
{
    // Take the whole batch under the lock and run it outside, so that an action may enqueue
    // further actions (they run in this same step) and the GUI thread never waits for one.
    for (;;) {
        std::deque<std::shared_ptr<OrvoAction>> batch;
        {
            std::lock_guard<std::mutex> lock(queueMutex);
            batch.swap(actionQueue);
        }
        if (batch.empty())
            break;
        while (!batch.empty()) {
            const std::shared_ptr<OrvoAction> action = batch.front();
            batch.pop_front();
            action->execute(*this, depthSource);
        }
    }
    if (depthSource)
        runTimed(*depthSource, *this);
}

} // namespace tavorin
