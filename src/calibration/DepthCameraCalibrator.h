#pragma once

#include "calibration/LatticeDetectionResult.h"
#include "calibration/PointCloudAligner.h"
#include "math/Mat4.h"

#include <vector>

namespace tavorin {

struct SceneState;

// The calibration cycle: while registration is on, every frame searches each camera's points for
// the lattice, accumulates the observations in a rough (axis points) and a fine (grid holes)
// registration and gives every camera the transform into camera 0's coordinates through the
// depth source. Owned by the scene; render thread only.
class DepthCameraCalibrator {
public:
    // One run on the state's current camera records (those of the previous frame step); sets
    // the model matrices through state.depthSource, which the next frame's records carry.
    void calibrateDepthCameras(SceneState& state);

    // Results of the last run, one per camera in the cameras' order.
    const std::vector<Mat4>& transforms() const { return cameraTransforms; }
    const std::vector<LatticeDetectionResult>& lastDetections() const { return detections; }
    const PointCloudAligner& fineRegistration() const { return fineAligner; }
    float registrationInlierThreshold() const { return inlierThreshold; }

private:
    PointCloudAligner roughAligner;
    PointCloudAligner fineAligner;
    std::vector<Mat4> cameraTransforms;
    float inlierThreshold = 0.04f; // metres, for both registrations
    std::vector<LatticeDetectionResult> detections;
};

} // namespace tavorin
