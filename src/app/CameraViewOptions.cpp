#include "app/CameraViewOptions.h"

#include "scene/CameraIdentity.h"
#include "scene/DepthCameraData.h"

namespace tavorin {

DepthCamera::Appearance cameraAppearance(std::size_t index, const DepthCameraData& record,
                                         const CameraViewOptions* options)
{
    DepthCamera::Appearance appearance;
    appearance.color = cameraColor(index);
    appearance.label = cameraLabel(index, record.sourceName);
    appearance.cloudShown = !options || options->cameraShown(index);
    appearance.colorByCamera = options && options->colorByCamera();
    return appearance;
}

} // namespace tavorin
