#pragma once

#include <memory>
#include <string>
#include <vector>

namespace tavorin {

class DepthCameraProcessor;

// The two kinds of depth source the scene can switch between. Both may return null while no
// implementation of that kind is built in; a null source delivers no camera records.
std::shared_ptr<DepthCameraProcessor> createLiveSource();
std::shared_ptr<DepthCameraProcessor> createRecordingSource(const std::vector<std::string>& files);

} // namespace tavorin
