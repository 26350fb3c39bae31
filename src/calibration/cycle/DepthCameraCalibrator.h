#pragma once

#include "base/NonCopyable.h"
#include "calibration/joint/JointCalibration.h"
#include "calibration/joint/JointEstimateWorker.h"
#include "calibration/detection/LatticeDetectionResult.h"
#include "calibration/joint/ObservationTimeline.h"
#include "calibration/quality/PlateCoverage.h"
#include "calibration/registration/PointCloudAligner.h"
#include "calibration/quality/RegistrationProgress.h"
#include "math/Mat4.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavorin {

struct DepthCameraData;
struct SceneState;
class WorkerPool;

// The calibration cycle: while registration is on, every frame searches each camera's points for
// the lattice and accumulates the observations: in a rough (axis points) and a fine (grid holes)
// pairwise registration onto camera 0, and in the joint estimate of every camera, which gives the
// cameras their matrices and depth corrections through the depth source (refreshJointEstimate). When every record carries its capture time, the observations are first brought
// to camera 0's capture instants (ObservationTimeline) and each frame counts once; without
// capture times, every run's records count as one simultaneous frame set. The searches of all
// cameras run at once on worker threads of the calibrator's own (one per camera, started with the
// first cycle); the thread that runs the cycle only waits for them and registers. Owned by the
// scene; one thread at a time (the render thread).
class DepthCameraCalibrator : NonCopyable {
public:
    DepthCameraCalibrator();
    ~DepthCameraCalibrator();

    // One run on the state's current camera records (those of the previous frame step); sets
    // the model matrices through state.depthSource, which the next frame's records carry. The
    // records' point buffers must not change until it returns.
    void calibrateDepthCameras(SceneState& state);
    // The joint estimate beside the cycle: hands the frame sets to a worker thread at most once a
    // second when new ones came, and gives every camera that the newest finished estimate trusts
    // (converged, 1 sigma within 3 mm and 0.2 degrees, residual within 3 mm, the plate seen in 10
    // frame sets) its matrix into camera 0's coordinates and its depth correction; the others keep
    // theirs and are shown as not calibrated yet. Render thread, every frame while registration
    // runs and after it stops (the last frame sets then get their estimate).
    void refreshJointEstimate(SceneState& state);
    // The same, waiting for the estimate over every frame set so far.
    void finishJointEstimate(SceneState& state);
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

    // Results of the last run, one per camera in the cameras' order: the pairwise registration's.
    const std::vector<Mat4>& transforms() const { return cameraTransforms; }
    // The newest finished joint estimate, and per camera whether its matrix was applied.
    const std::optional<JointEstimate>& jointEstimate() const { return latestJoint; }
    const std::vector<LatticeDetectionResult>& lastDetections() const { return detections; }
    const PointCloudAligner& fineRegistration() const { return fineAligner; }
    float registrationInlierThreshold() const { return inlierThreshold; }
    const ObservationTimeline& timeline() const { return observationTimeline; }
    // Every frame set so far, for the joint estimate of all cameras at once.
    const JointCalibration& jointCalibration() const { return joint; }

    // Per camera since the camera count last changed; a cost per call that does not grow.
    std::vector<RegistrationProgress> progress() const;
    // Per camera, where its image has seen the plate since the camera count last changed.
    const std::vector<PlateCoverage>& coverage() const { return coverages; }
    // Whether a joint estimate of these cameras has come.
    bool estimated() const { return latestJoint.has_value(); }

private:
    // Adds the frame sets of this run to the registrations: the timeline's resolved ones, each at
    // its instant, or the run's own detections, without one, when a record has no capture time.
    void addCycleFrameSets(const SceneState& state, const std::vector<DepthCorrection>& removed);
    // The timeline's frame sets resolved by these frames (one per camera), the timeline made anew
    // for another camera count.
    std::vector<InstantFrameSet> timelineSets(const std::vector<double>& timestamps,
                                              const std::vector<LatticeDetectionResult>& frameDetections);
    // The set joins the joint estimate, at its instant on camera 0's clock when it has one; one in
    // which the reference camera saw the plate also the pairwise registrations onto it.
    void addFrameSet(const std::vector<LatticeDetectionResult>& set, const std::vector<DepthCorrection>& removed,
                     std::optional<double> capturedAt);
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
    std::vector<PlateCoverage> coverages;    // per camera
    std::size_t framesExamined = 0;
    // Per camera, the depth correction its source removed in the last cycle; the frames that
    // reach the timeline between cycles come from the same sources.
    std::vector<DepthCorrection> corrections;
    // The joint estimate beside the cycle.
    void submitJointEstimate(const SceneState& state);
    void applyJointEstimate(std::uint64_t tag, JointEstimate estimate, SceneState& state);
    JointEstimateWorker jointWorker;
    std::uint64_t generation = 0;            // counts camera sets; a result of another is dropped
    std::size_t setsSubmitted = 0;           // frame sets of the last estimate handed over
    std::chrono::steady_clock::time_point lastSubmission;
    std::vector<std::string> submittedNames; // the cameras' source names, in order
    std::optional<JointEstimate> latestJoint;
    std::vector<bool> trusted;               // per camera, of latestJoint
    std::vector<std::string> untrustedWhy;   // per camera, of latestJoint; empty when trusted
    std::vector<std::string> announcedTrust; // per camera, what the console last said of it
    std::vector<std::string> cameraNames;    // of the records the registrations were made for
};

} // namespace tavorin
