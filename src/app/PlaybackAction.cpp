#include "app/PlaybackAction.h"

namespace tavorin {

void PlaybackAction::execute(SceneState& state, std::shared_ptr<DepthCameraProcessor>& depthSource)
{
    (void)state;
    if (depthSource)
        depthSource->controlPlayback(command);
}

} // namespace tavorin
