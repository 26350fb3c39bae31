#pragma once

#include "calibration/LatticeDetectionResult.h"
#include "calibration/ObservationTimeline.h"
#include "calibration/PointCloudAligner.h"
#include "math/Mat4.h"

#include <vector>

namespace tavorin {

struct SceneState;

// The calibration cycle: while registration is on, every frame searches each camera's points for
// the lattice, accumulates the observations in a rough (axis points) and a fine (grid holes)
// registration and gives every camera the transform into camera 0's coordinates through the
// depth source. When every record carries its capture time, the observations are first brought
// to camera 0's capture instants (ObservationTimeline) and each frame counts once; without
// capture times, every run's records count as one simultaneous frame set. Owned by the scene;
// render thread only.
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
    const ObservationTimeline& timeline() const { return observationTimeline; }

private:
    // The frame sets this run adds to the registrations: the timeline's resolved ones, or the
    // run's own detections when a record has no capture time.
    std::vector<std::vector<LatticeDetectionResult>> frameSets(const SceneState& state);
    void addFrameSet(const std::vector<LatticeDetectionResult>& set);

    PointCloudAligner roughAligner;
    PointCloudAligner fineAligner;
    std::vector<Mat4> cameraTransforms;
    float inlierThreshold = 0.04f; // metres, for both registrations
    std::vector<LatticeDetectionResult> detections;
    ObservationTimeline observationTimeline;
};

} // namespace tavorin
