#pragma once

#include "scene/DebugLine.h"

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace tavorin {

struct DepthCameraData;
struct LightModuleRecord;
struct TubeRecord;
struct HeightMapRecord;
class DepthCameraProcessor;
class LightIntensityOptimizer;
class OrvoAction;

// The per-frame data of the scene. Render thread only, except enqueue(), which the GUI thread
// calls; the action queue is the hand-over point between the two.
struct SceneState {
    SceneState() = default;
    SceneState(const SceneState&) = delete;
    SceneState& operator=(const SceneState&) = delete;

    std::vector<std::shared_ptr<DepthCameraData>> cameras;
    std::vector<std::shared_ptr<LightModuleRecord>> lights;
    std::vector<std::shared_ptr<TubeRecord>> tubes;
    std::shared_ptr<HeightMapRecord> heightMap;
    std::shared_ptr<HeightMapRecord> lightTarget;
    std::vector<DebugLine> debugLines;
    std::shared_ptr<DepthCameraProcessor> depthSource;
    std::shared_ptr<LightIntensityOptimizer> lightOptimizer;

    // Any thread. Appends at the back of the queue.
    void enqueue(std::shared_ptr<OrvoAction> action);
    // Render thread. Runs the queued actions in order (including those they enqueue), then the
    // depth source's process().
    void step();
    std::size_t pendingActions() const;

private:
    mutable std::mutex queueMutex;
    std::deque<std::shared_ptr<OrvoAction>> actionQueue; // guarded by queueMutex
};

} // namespace tavorin
