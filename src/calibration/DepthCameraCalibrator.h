#pragma once

#include "calibration/JointCalibration.h"
#include "calibration/LatticeDetectionResult.h"
#include "calibration/ObservationTimeline.h"
#include "calibration/PointCloudAligner.h"
#include "calibration/RegistrationProgress.h"
#include "math/Mat4.h"

#include <memory>
#include <vector>

namespace tavorin {

struct DepthCameraData;
struct SceneState;
class WorkerPool;

// The calibration cycle: while registration is on, every frame searches each camera's points for
// the lattice, accumulates the observations in a rough (axis points) and a fine (grid holes)
// registration and gives every camera the transform into camera 0's coordinates through the
// depth source. When every record carries its capture time, the observations are first brought
// to camera 0's capture instants (ObservationTimeline) and each frame counts once; without
// capture times, every run's records count as one simultaneous frame set. The searches of all
// cameras run at once on worker threads of the calibrator's own (one per camera, started with the
// first cycle); the thread that runs the cycle only waits for them and registers. Owned by the
// scene; one thread at a time (the render thread).
class DepthCameraCalibrator {
public:
    DepthCameraCalibrator();
    ~DepthCameraCalibrator();
    DepthCameraCalibrator(const DepthCameraCalibrator&) = delete;
    DepthCameraCalibrator& operator=(const DepthCameraCalibrator&) = delete;

    // One run on the state's current camera records (those of the previous frame step); sets
    // the model matrices through state.depthSource, which the next frame's records carry. The
    // records' point buffers must not change until it returns.
    void calibrateDepthCameras(SceneState& state);
    // The cycle after the searches: prints each camera's "Kinect <i>: ..." line, accumulates one
    // frame's detections (one per camera record of the state, in order) and registers.
    // calibrateDepthCameras runs it on its own searches; a caller that searched the frames itself
    // (the headless calibrator) runs it alone, with records that carry at least the capture times.
    void registerDetections(std::vector<LatticeDetectionResult> frameDetections, SceneState& state);
    // Frames that reach the timeline outside a cycle (the headless calibrator's frames of a camera
    // between two of its steps), per camera its capture time and search; a camera given its newest
    // capture time again adds nothing. The frame sets they resolve join the registrations, which
    // the next cycle computes; nothing is counted or printed.
    void addTimelineFrames(const std::vector<double>& timestamps, const std::vector<LatticeDetectionResult>& frameDetections);

    // Results of the last run, one per camera in the cameras' order.
    const std::vector<Mat4>& transforms() const { return cameraTransforms; }
    const std::vector<LatticeDetectionResult>& lastDetections() const { return detections; }
    const PointCloudAligner& fineRegistration() const { return fineAligner; }
    float registrationInlierThreshold() const { return inlierThreshold; }
    const ObservationTimeline& timeline() const { return observationTimeline; }
    // Every frame set so far, for the joint estimate of all cameras at once.
    const JointCalibration& jointCalibration() const { return joint; }

    // Per camera since the camera count last changed; a cost per call that does not grow.
    std::vector<RegistrationProgress> progress() const;

private:
    // The frame sets this run adds to the registrations: the timeline's resolved ones, or the
    // run's own detections when a record has no capture time.
    std::vector<std::vector<LatticeDetectionResult>> frameSets(const SceneState& state);
    // The timeline's frame sets resolved by these frames (one per camera), the timeline made anew
    // for another camera count.
    std::vector<std::vector<LatticeDetectionResult>> timelineSets(const std::vector<double>& timestamps,
                                                                  const std::vector<LatticeDetectionResult>& frameDetections);
    // The set joins the joint estimate; one in which the reference camera saw the plate also the
    // pairwise registrations onto it.
    void addFrameSet(const std::vector<LatticeDetectionResult>& set, const std::vector<DepthCorrection>& removed);
    void detectAll(const std::vector<std::shared_ptr<DepthCameraData>>& cameras);
    void startAfresh(std::size_t cameraCount);
    void countFrames();

    std::unique_ptr<WorkerPool> workers;
    JointCalibration joint;
    PointCloudAligner roughAligner;
    PointCloudAligner fineAligner;
    std::vector<Mat4> cameraTransforms;
    float inlierThreshold = 0.04f; // metres, for both registrations
    std::vector<LatticeDetectionResult> detections;
    ObservationTimeline observationTimeline;
    std::vector<std::size_t> framesFound;    // per camera
    std::size_t framesExamined = 0;
    // Per camera, the depth correction its source removed in the last cycle; the frames that
    // reach the timeline between cycles come from the same sources.
    std::vector<DepthCorrection> corrections;
};

} // namespace tavorin
