#include "app/SetDepthImageSourceAction.h"

#include "acquisition/DepthCameraProcessor.h"
#include "acquisition/DepthSourceFactory.h"

SetDepthImageSourceAction::SetDepthImageSourceAction(std::int32_t type_, std::vector<std::string> files_)
    : type(type_), files(std::move(files_))
{
}

void SetDepthImageSourceAction::execute(SceneState&, std::shared_ptr<DepthCameraProcessor>& depthSource)
{
    // Replacing the pointer drops our share of the previous source, whose destructor stops it.
    if (type == kLiveCameras)
        depthSource = createLiveSource();
    else if (type == kRecordings)
        depthSource = createRecordingSource(files);
}
