#pragma once

#include <memory>

namespace tavorin {

struct SceneState;
class DepthCameraProcessor;

// A command queued by the GUI thread and executed once, in order, on the render thread at the
// next frame step. Released through its shared pointer.
class OrvoAction {
public:
    virtual void execute(SceneState& state, std::shared_ptr<DepthCameraProcessor>& depthSource) = 0;

protected:
    ~OrvoAction() = default;
};

} // namespace tavorin
