#include "sample_scene/SampleLayout.h"

#include "sample_scene/SampleCameraCeiling.h"
#include "sample_scene/SampleCameraRow.h"

namespace sample_scene {

SampleLayout::SampleLayout(Kind kind_, int cameraCount) : kind(kind_), count(cameraCount) {}

CameraPose SampleLayout::cameraPose(int index) const
{
    switch (kind) {
    case Kind::Row:
        return rowCameraPose(index, count);
    case Kind::Ceiling:
        return ceilingCameraPose(index, count);
    case Kind::Around:
        break;
    }
    return sample_scene::cameraPose(index);
}

PlatePose SampleLayout::plateAt(double seconds, double period) const
{
    switch (kind) {
    case Kind::Row:
        return rowPlateAt(seconds, period, count);
    case Kind::Ceiling:
        return ceilingPlateAt(seconds, period);
    case Kind::Around:
        break;
    }
    return sample_scene::plateAt(seconds, period);
}

std::vector<SceneCamera> SampleLayout::sceneCameras(const std::vector<DepthError>& depthErrors) const
{
    std::vector<SceneCamera> cameras;
    for (int i = 0; i < count; ++i)
        cameras.push_back({i, cameraPose(i), depthErrors[static_cast<std::size_t>(i)]});
    return cameras;
}

} // namespace sample_scene
