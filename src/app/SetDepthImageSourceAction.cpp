#include "app/SetDepthImageSourceAction.h"

#include "app/DepthSourceFactory.h"
#include "network/ros/NetworkDepthSource.h"
#include "scene/DepthCameraProcessor.h"

namespace tavorin {

SetDepthImageSourceAction::SetDepthImageSourceAction(std::int32_t type_, std::vector<std::string> files_)
    : type(type_), files(std::move(files_))
{
}

void SetDepthImageSourceAction::execute(SceneState&, std::shared_ptr<DepthCameraProcessor>& depthSource)
{
    // Replacing the pointer drops our share of the previous source, whose destructor stops it. A
    // live source lets go of its devices first: a device opens for one handle at a time.
    if (type == kLiveCameras) {
        depthSource.reset();
        depthSource = createLiveSource();
    }
    else if (type == kRecordings)
        depthSource = createRecordingSource(files);
    else if (type == kNetworkCameras)
        depthSource = std::make_shared<NetworkDepthSource>();
}

} // namespace tavorin
