#pragma once

#include "scene/OrvoAction.h"

#include <memory>

namespace tavorin {

class LiveRecording;

// Hands the live devices that stream to the window's recording: those of the depth source when it
// is live, none otherwise. The recording must outlive the action.
class OfferLiveDevicesAction : public OrvoAction {
public:
    explicit OfferLiveDevicesAction(LiveRecording& recording_) : recording(recording_) {}
    void execute(SceneState& state, std::shared_ptr<DepthCameraProcessor>& depthSource) override;

private:
    LiveRecording& recording;
};

} // namespace tavorin
