#include "app/DepthSourceFactory.h"

#include "acquisition/live/AzureKinectCameraProcessor.h"
#include "acquisition/recording/HDF5CameraProcessor.h"
#include "scene/DepthCameraProcessor.h"

namespace tavorin {

std::shared_ptr<DepthCameraProcessor> createLiveSource()
{
    return std::make_shared<AzureKinectCameraProcessor>();
}

std::shared_ptr<DepthCameraProcessor> createRecordingSource(const std::vector<std::string>& files)
{
    return std::make_shared<HDF5CameraProcessor>(files);
}

} // namespace tavorin
