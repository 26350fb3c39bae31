#pragma once

#include "scene/DepthCamera.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tavorin {

struct DepthCameraData;

// The view options of the cameras that the scene reads when it draws the clouds, and the camera
// names it hands back for the list of cameras. The view options' view model implements it: the
// GUI thread writes the options, the render thread reads them every frame and sets the names, so
// an implementation keeps the options atomic and the names behind a lock.
class CameraViewOptions {
public:
    virtual bool colorByCamera() const = 0;
    // Whether the cloud of the camera at this index of the records is drawn.
    virtual bool cameraShown(std::size_t index) const = 0;
    // The records' source names, in record order; render thread, every frame.
    virtual void setCameraNames(const std::vector<std::string>& names) = 0;

protected:
    ~CameraViewOptions() = default; // not owned through this interface
};

// How the scene shows the camera record at `index`: its palette colour and label, and the options
// (without options: every cloud shown in its image's colours).
DepthCamera::Appearance cameraAppearance(std::size_t index, const DepthCameraData& record,
                                         const CameraViewOptions* options);

} // namespace tavorin
