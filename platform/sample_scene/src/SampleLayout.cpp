#include "sample_scene/SampleLayout.h"

#include "sample_scene/SampleCameraRow.h"

namespace sample_scene {

SampleLayout::SampleLayout(Kind kind_, int cameraCount) : kind(kind_), count(cameraCount) {}

CameraPose SampleLayout::cameraPose(int index) const
{
    return kind == Kind::Row ? rowCameraPose(index, count) : sample_scene::cameraPose(index);
}

PlatePose SampleLayout::plateAt(double seconds, double period) const
{
    return kind == Kind::Row ? rowPlateAt(seconds, period, count) : sample_scene::plateAt(seconds, period);
}

std::vector<SceneCamera> SampleLayout::sceneCameras(const std::vector<DepthError>& depthErrors) const
{
    std::vector<SceneCamera> cameras;
    for (int i = 0; i < count; ++i)
        cameras.push_back({i, cameraPose(i), depthErrors[static_cast<std::size_t>(i)]});
    return cameras;
}

} // namespace sample_scene
