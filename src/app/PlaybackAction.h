#pragma once

#include "scene/DepthCameraProcessor.h"
#include "scene/OrvoAction.h"

namespace tavorin {

// One command of the window's transport for the recordings being played (pause, play, step,
// loop); a source that plays no recordings ignores it.
class PlaybackAction : public OrvoAction {
public:
    explicit PlaybackAction(PlaybackCommand command) : command(command) {}
    void execute(SceneState& state, std::shared_ptr<DepthCameraProcessor>& depthSource) override;

    PlaybackCommand command;
};

} // namespace tavorin
