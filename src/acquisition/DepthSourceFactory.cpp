#include "acquisition/DepthSourceFactory.h"

#include "acquisition/DepthCameraProcessor.h"
#include "acquisition/HDF5CameraProcessor.h"

std::shared_ptr<DepthCameraProcessor> createLiveSource()
{
    // Live capture is not built in yet.
    return nullptr;
}

std::shared_ptr<DepthCameraProcessor> createRecordingSource(const std::vector<std::string>& files)
{
    return std::make_shared<HDF5CameraProcessor>(files);
}
