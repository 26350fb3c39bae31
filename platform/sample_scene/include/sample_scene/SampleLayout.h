#pragma once

#include "sample_scene/SampleCameraRig.h"
#include "sample_scene/SampleRoom.h"

#include <vector>

namespace sample_scene {

// The cameras of one sample scene and the plate's path through their views. Camera i of either
// layout uses the serial and the calibration blob of the rig's camera i.
class SampleLayout {
public:
    enum class Kind {
        Around,  // the rig's cameras 0 to count - 1 around the work centre, the plate drifting there
        Row,     // count cameras along a room, the plate carried past them (SampleCameraRow)
        Ceiling, // count cameras under the ceiling round the table, 3 m from the plate (SampleCameraCeiling)
    };

    SampleLayout(Kind kind, int cameraCount);

    int cameraCount() const { return count; }
    CameraPose cameraPose(int index) const;
    // The plate `seconds` into the scene when one pass of its path takes `period` seconds.
    PlatePose plateAt(double seconds, double period) const;
    // The scene's cameras as the ground truth lists them; `depthErrors` one per camera.
    std::vector<SceneCamera> sceneCameras(const std::vector<DepthError>& depthErrors) const;

private:
    Kind kind;
    int count;
};

} // namespace sample_scene
