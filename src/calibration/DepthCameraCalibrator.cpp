#include "calibration/DepthCameraCalibrator.h"

#include "base/Console.h"
#include "calibration/GridHoleMatching.h"
#include "calibration/LatticeDetection.h"
#include "calibration/PointImage.h"
#include "calibration/WorkerPool.h"
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

std::vector<std::vector<LatticeDetectionResult>> DepthCameraCalibrator::frameSets(const SceneState& state)
{
    if (state.cameras.empty() || !allTimed(state.cameras))
        return {detections};
    std::vector<double> timestamps;
    timestamps.reserve(state.cameras.size());
    for (const std::shared_ptr<DepthCameraData>& camera : state.cameras)
        timestamps.push_back(*camera->timestamp);
    return timelineSets(timestamps, detections);
}

std::vector<std::vector<LatticeDetectionResult>> DepthCameraCalibrator::timelineSets(
    const std::vector<double>& timestamps, const std::vector<LatticeDetectionResult>& frameDetections)
{
    if (observationTimeline.cameraCount() != timestamps.size())
        observationTimeline = ObservationTimeline(timestamps.size(), kReferenceCamera);
    return observationTimeline.add(timestamps, frameDetections);
}

void DepthCameraCalibrator::addFrameSet(const std::vector<LatticeDetectionResult>& set,
                                       const std::vector<DepthCorrection>& removed)
{
    joint.addFrameSet(set, removed);
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
    joint = JointCalibration(cameraCount);
    roughAligner = PointCloudAligner(static_cast<unsigned>(cameraCount));
    fineAligner = PointCloudAligner(static_cast<unsigned>(cameraCount));
    framesFound.assign(cameraCount, 0);
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
    if (fineAligner.cloudCount() != cameras.size())
        startAfresh(cameras.size());
    countFrames();
    std::vector<DepthCorrection> removed;
    for (const std::shared_ptr<DepthCameraData>& camera : cameras)
        removed.push_back(camera->depthCorrection);
    corrections = removed;
    for (const std::vector<LatticeDetectionResult>& set : frameSets(state))
        addFrameSet(set, removed);
    cameraTransforms = fineAligner.registrate(kReferenceCamera, inlierThreshold);

    if (!state.depthSource)
        return;
    for (std::size_t i = 0; i < cameraTransforms.size() && i < cameras.size(); ++i)
        state.depthSource->setModelMatrix(cameras[i]->sourceName, cameraTransforms[i]);
}

void DepthCameraCalibrator::addTimelineFrames(const std::vector<double>& timestamps,
                                             const std::vector<LatticeDetectionResult>& frameDetections)
{
    if (fineAligner.cloudCount() != timestamps.size())
        startAfresh(timestamps.size());
    for (const std::vector<LatticeDetectionResult>& set : timelineSets(timestamps, frameDetections))
        addFrameSet(set, corrections);
}

std::vector<RegistrationProgress> DepthCameraCalibrator::progress() const
{
    constexpr double kMmPerMetre = 1000.0;
    const std::vector<RegistrationResidual> residuals = fineAligner.currentResiduals();
    std::vector<RegistrationProgress> result(framesFound.size());
    for (std::size_t i = 0; i < result.size(); ++i) {
        result[i].framesFound = framesFound[i];
        result[i].framesExamined = framesExamined;
        result[i].reference = i == static_cast<std::size_t>(kReferenceCamera);
        if (i < residuals.size()) {
            result[i].rmsMm = residuals[i].inlierRms * kMmPerMetre;
            result[i].correspondences = residuals[i].correspondenceCount;
        }
    }
    return result;
}

} // namespace tavorin
