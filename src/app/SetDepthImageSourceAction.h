#pragma once

#include "scene/OrvoAction.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavorin {

// Replaces the scene's depth source: type 0 opens the live cameras, type 1 the recordings in
// `files`, type 3 the cameras of other computers over ROS 2 (the settings bar's "Input:" entries;
// entry 2 plays a folder's recordings as type 1); any other type is dropped.
class SetDepthImageSourceAction : public OrvoAction {
public:
    static constexpr std::int32_t kLiveCameras = 0;
    static constexpr std::int32_t kRecordings = 1;
    static constexpr std::int32_t kNetworkCameras = 3;

    SetDepthImageSourceAction(std::int32_t type, std::vector<std::string> files);
    void execute(SceneState& state, std::shared_ptr<DepthCameraProcessor>& depthSource) override;

    std::int32_t type;
    std::vector<std::string> files;
};

} // namespace tavorin
