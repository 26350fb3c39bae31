#include "calibration/cycle/DepthCameraCalibrator.h"

#include "base/Console.h"
#include "calibration/registration/GridHoleMatching.h"
#include "calibration/detection/LatticeDetection.h"
#include "calibration/detection/PointImage.h"
#include "calibration/cycle/WorkerPool.h"
#include "calibration/joint/CameraTrust.h"
#include "scene/CameraIdentity.h"
#include "scene/DepthCameraData.h"
#include "scene/DepthCameraProcessor.h"
#include "scene/SceneState.h"

#include <algorithm>
#include <memory>

namespace tavorin {

namespace {

constexpr int kReferenceCamera = 0;

// The record's x, y, z, w points read in place; an empty image for a record without points.
PointImage imageOf(const DepthCameraData& camera)
{
    constexpr std::int32_t kFloatsPerRecordPoint = 4;
    if (!camera.points || camera.width <= 0 || camera.height <= 0)
        return PointImage{};
    return PointImage{camera.points, camera.width, camera.height, kFloatsPerRecordPoint};
}

bool allTimed(const std::vector<std::shared_ptr<DepthCameraData>>& cameras)
{
    return std::all_of(cameras.begin(), cameras.end(), [](const auto& camera) { return camera->timestamp.has_value(); });
}

} // namespace

void DepthCameraCalibrator::addCycleFrameSets(const SceneState& state, const std::vector<DepthCorrection>& removed)
{
    if (state.cameras.empty() || !allTimed(state.cameras)) {
        addFrameSet(detections, removed, std::nullopt);
        return;
    }
    std::vector<double> timestamps;
    timestamps.reserve(state.cameras.size());
    for (const std::shared_ptr<DepthCameraData>& camera : state.cameras)
        timestamps.push_back(*camera->timestamp);
    for (const InstantFrameSet& set : timelineSets(timestamps, detections))
        addFrameSet(set.detections, removed, set.t);
}

std::vector<InstantFrameSet> DepthCameraCalibrator::timelineSets(const std::vector<double>& timestamps,
                                                                 const std::vector<LatticeDetectionResult>& frameDetections)
{
    if (observationTimeline.cameraCount() != timestamps.size())
        observationTimeline = ObservationTimeline(timestamps.size(), kReferenceCamera);
    return observationTimeline.add(timestamps, frameDetections);
}

void DepthCameraCalibrator::addFrameSet(const std::vector<LatticeDetectionResult>& set,
                                       const std::vector<DepthCorrection>& removed, std::optional<double> capturedAt)
{
    // A long live calibration keeps every second of its older sets: the estimate stays quick.
    constexpr std::size_t kMaxKeptSets = 3600;
    joint.addFrameSet(set, removed, capturedAt);
    if (joint.frameSetCount() > kMaxKeptSets) {
        joint.thinTo(kMaxKeptSets / 2);
        setsSubmitted = 0;
    }
    if (set.empty() || !set[kReferenceCamera].found)
        return;
    roughAligner.addCorrespondencePoints(latticeAxisPoints(set));
    std::vector<Mat4> rough = roughAligner.registrate(kReferenceCamera, inlierThreshold);
    fineAligner.addCorrespondencePoints(matchAllGridHoles_ByRoughRegistration(std::move(rough), set, kReferenceCamera));
}

DepthCameraCalibrator::DepthCameraCalibrator() = default;
DepthCameraCalibrator::~DepthCameraCalibrator() = default;

// Worker threads: camera i's search writes only detections[i].
void DepthCameraCalibrator::detectAll(const std::vector<std::shared_ptr<DepthCameraData>>& cameras)
{
    detections.assign(cameras.size(), LatticeDetectionResult{});
    if (cameras.empty())
        return;
    if (!workers || workers->threadCount() < cameras.size())
        workers = std::make_unique<WorkerPool>(cameras.size());
    workers->run(cameras.size(), [&](std::size_t i) { detections[i] = detectLattice(imageOf(*cameras[i])); });
}

void DepthCameraCalibrator::startAfresh(std::size_t cameraCount)
{
    ++generation;
    setsSubmitted = 0;
    latestJoint.reset();
    trusted.clear();
    untrustedWhy.clear();
    announcedTrust.clear();
    joint = JointCalibration(cameraCount);
    roughAligner = PointCloudAligner(static_cast<unsigned>(cameraCount));
    fineAligner = PointCloudAligner(static_cast<unsigned>(cameraCount));
    framesFound.assign(cameraCount, 0);
    coverages.assign(cameraCount, PlateCoverage{});
    framesExamined = 0;
}

void DepthCameraCalibrator::countFrames()
{
    ++framesExamined;
    for (std::size_t i = 0; i < detections.size() && i < framesFound.size(); ++i)
        framesFound[i] += detections[i].found ? 1 : 0;
}

void DepthCameraCalibrator::calibrateDepthCameras(SceneState& state)
{
    detectAll(state.cameras);
    registerDetections(std::move(detections), state);
}

void DepthCameraCalibrator::registerDetections(std::vector<LatticeDetectionResult> frameDetections, SceneState& state)
{
    detections = std::move(frameDetections);
    for (std::size_t i = 0; i < detections.size(); ++i)
        console::out("Kinect ", i, ": ", (detections[i].found ? "LATTICE FOUND!" : " Lattice not found."));
    const std::vector<std::shared_ptr<DepthCameraData>> cameras = state.cameras;
    std::vector<std::string> names;
    for (const std::shared_ptr<DepthCameraData>& camera : cameras)
        names.push_back(camera->sourceName);
    if (fineAligner.cloudCount() != cameras.size() || names != cameraNames) {
        startAfresh(cameras.size());
        cameraNames = names;
    }
    countFrames();
    for (std::size_t i = 0; i < cameras.size() && i < coverages.size() && i < detections.size(); ++i) {
        if (detections[i].found && !coverages[i].hasProjection())
            coverages[i].fitProjection(cameras[i]->points, cameras[i]->width, cameras[i]->height);
        coverages[i].add(detections[i]);
    }
    std::vector<DepthCorrection> removed;
    for (const std::shared_ptr<DepthCameraData>& camera : cameras)
        removed.push_back(camera->removedDepthCorrection);
    corrections = removed;
    addCycleFrameSets(state, removed);
    cameraTransforms = fineAligner.registrate(kReferenceCamera, inlierThreshold);
}

void DepthCameraCalibrator::submitJointEstimate(const SceneState& state)
{
    constexpr auto kMinInterval = std::chrono::seconds(1);
    constexpr std::size_t kMaxSets = 900; // a solve stays well within a second
    const auto now = std::chrono::steady_clock::now();
    if (joint.frameSetCount() == setsSubmitted || now - lastSubmission < kMinInterval || jointWorker.busy())
        return;
    JointCalibration snapshot = joint;
    snapshot.thinTo(kMaxSets);
    submittedNames.clear();
    for (const std::shared_ptr<DepthCameraData>& camera : state.cameras)
        submittedNames.push_back(camera->sourceName);
    if (submittedNames.size() != joint.cameraCount() || !jointWorker.start(std::move(snapshot), generation))
        return;
    setsSubmitted = joint.frameSetCount();
    lastSubmission = now;
}

// A camera's estimate is applied only when the trust rule (calibration/joint/CameraTrust) accepts
// it: a matrix that would be wrong with confidence is never applied.
void DepthCameraCalibrator::applyJointEstimate(std::uint64_t tag, JointEstimate estimate, SceneState& state)
{
    if (tag != generation || estimate.cameras.size() != submittedNames.size())
        return;
    trusted.assign(estimate.cameras.size(), false);
    untrustedWhy.assign(estimate.cameras.size(), std::string());
    announcedTrust.resize(estimate.cameras.size());
    for (std::size_t i = 0; i < estimate.cameras.size(); ++i) {
        const JointCameraEstimate& camera = estimate.cameras[i];
        const CameraTrust trust = trustOf(estimate, i);
        trusted[i] = trust.trusted;
        untrustedWhy[i] = trust.why;
        // The console keeps a record of each camera's trust as it changes.
        const std::string name = i < submittedNames.size() ? submittedNames[i] : std::string();
        const std::string said = trusted[i] ? std::string("trusted") : "not trusted: " + untrustedWhy[i];
        if (i > 0 && said != announcedTrust[i]) {
            announcedTrust[i] = said;
            console::out("Joint estimate: camera ", i, " (", cameraShortName(name), ") ", said);
        }
        if (!trusted[i] || !state.depthSource)
            continue;
        state.depthSource->setModelMatrix(submittedNames[i], camera.T_camera0_camera);
        state.depthSource->setDepthCorrection(submittedNames[i], camera.depthError);
    }
    latestJoint = std::move(estimate);
}

void DepthCameraCalibrator::refreshJointEstimate(SceneState& state)
{
    if (std::optional<std::pair<std::uint64_t, JointEstimate>> finished = jointWorker.takeFinished())
        applyJointEstimate(finished->first, std::move(finished->second), state);
    submitJointEstimate(state);
}

void DepthCameraCalibrator::finishJointEstimate(SceneState& state)
{
    jointWorker.wait();
    lastSubmission = {};
    refreshJointEstimate(state);
    jointWorker.wait();
    if (std::optional<std::pair<std::uint64_t, JointEstimate>> finished = jointWorker.takeFinished())
        applyJointEstimate(finished->first, std::move(finished->second), state);
}

void DepthCameraCalibrator::addTimelineFrames(const std::vector<double>& timestamps,
                                             const std::vector<LatticeDetectionResult>& frameDetections)
{
    if (fineAligner.cloudCount() != timestamps.size())
        startAfresh(timestamps.size());
    for (const InstantFrameSet& set : timelineSets(timestamps, frameDetections))
        addFrameSet(set.detections, corrections, set.t);
}

std::vector<RegistrationProgress> DepthCameraCalibrator::progress() const
{
    std::vector<RegistrationProgress> result(framesFound.size());
    for (std::size_t i = 0; i < result.size(); ++i) {
        result[i].framesFound = framesFound[i];
        result[i].framesExamined = framesExamined;
        result[i].reference = i == static_cast<std::size_t>(kReferenceCamera);
        if (!latestJoint || i >= latestJoint->cameras.size())
            continue;
        const JointCameraEstimate& camera = latestJoint->cameras[i];
        result[i].calibrated = i < trusted.size() && trusted[i];
        result[i].notCalibratedWhy = i < untrustedWhy.size() ? untrustedWhy[i] : std::string();
        result[i].rmsMm = camera.holeRmsMm;
        result[i].sigmaMm = camera.sigmaTranslationMm;
        result[i].sigmaDeg = camera.sigmaRotationDeg;
        result[i].plateDistanceM = camera.meanPlateDistanceM;
        result[i].depthErrorMm = camera.depthError.errorMmAt(camera.meanPlateDistanceM);
        constexpr double kMinDistanceSpreadM = 0.15;
        result[i].narrowDistances = camera.calibrated && camera.plateDistanceSpreadM < kMinDistanceSpreadM;
        result[i].clockOffsetObservable = camera.clockOffsetObservable;
        result[i].clockOffsetMs = camera.clockOffsetSeconds * 1000.0;
    }
    return result;
}

} // namespace tavorin
