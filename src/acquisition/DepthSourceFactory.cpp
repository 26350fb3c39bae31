#include "acquisition/DepthSourceFactory.h"

#include "acquisition/DepthCameraProcessor.h"

std::shared_ptr<DepthCameraProcessor> createLiveSource()
{
    // Live capture is not built in yet.
    return nullptr;
}

std::shared_ptr<DepthCameraProcessor> createRecordingSource(const std::vector<std::string>&)
{
    // Recording playback is not built in yet.
    return nullptr;
}
