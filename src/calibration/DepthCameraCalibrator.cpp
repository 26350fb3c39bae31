#include "calibration/DepthCameraCalibrator.h"

#include "base/Console.h"
#include "calibration/GridHoleMatching.h"
#include "calibration/LatticeDetection.h"
#include "calibration/PointImage.h"
#include "scene/DepthCameraData.h"
#include "scene/DepthCameraProcessor.h"
#include "scene/SceneState.h"

#include <memory>

namespace tavorin {

namespace {

constexpr int kReferenceCamera = 0;

// x, y, z of every pixel of the record, in pixel order; empty for a record without points.
std::vector<float> pointArray(const DepthCameraData& camera)
{
    constexpr std::size_t kSourceFloatsPerPixel = 4;
    constexpr std::size_t kImageFloatsPerPixel = 3;
    std::vector<float> points;
    if (!camera.points || camera.width <= 0 || camera.height <= 0)
        return points;
    const std::size_t pixels = static_cast<std::size_t>(camera.width) * static_cast<std::size_t>(camera.height);
    points.resize(pixels * kImageFloatsPerPixel);
    for (std::size_t i = 0; i < pixels; ++i)
        for (std::size_t k = 0; k < kImageFloatsPerPixel; ++k)
            points[i * kImageFloatsPerPixel + k] = camera.points[i * kSourceFloatsPerPixel + k];
    return points;
}

PointImage imageOf(const std::vector<float>& points, const DepthCameraData& camera)
{
    if (points.empty())
        return PointImage{};
    return PointImage{points.data(), camera.width, camera.height};
}

} // namespace

void DepthCameraCalibrator::calibrateDepthCameras(SceneState& state)
{
    const std::vector<std::shared_ptr<DepthCameraData>> cameras = state.cameras;
    std::vector<std::vector<float>> pointArrays;
    pointArrays.reserve(cameras.size());
    for (const std::shared_ptr<DepthCameraData>& camera : cameras)
        pointArrays.push_back(pointArray(*camera));

    detections.clear();
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        detections.push_back(detectLattice(imageOf(pointArrays[i], *cameras[i])));
        console::out("Kinect ", i, ": ", (detections.back().found ? "LATTICE FOUND!" : " Lattice not found."));
    }
    std::vector<std::vector<Vec4>> axisPoints = latticeAxisPoints(detections);

    if (fineAligner.cloudCount() != cameras.size()) {
        roughAligner = PointCloudAligner(static_cast<unsigned>(cameras.size()));
        fineAligner = PointCloudAligner(static_cast<unsigned>(cameras.size()));
    }
    roughAligner.addCorrespondencePoints(std::move(axisPoints));
    std::vector<Mat4> rough = roughAligner.registrate(kReferenceCamera, inlierThreshold);
    fineAligner.addCorrespondencePoints(
        matchAllGridHoles_ByRoughRegistration(std::move(rough), detections, kReferenceCamera));
    cameraTransforms = fineAligner.registrate(kReferenceCamera, inlierThreshold);
    pointArrays.clear();

    if (!state.depthSource)
        return;
    for (std::size_t i = 0; i < cameraTransforms.size() && i < cameras.size(); ++i)
        state.depthSource->setModelMatrix(cameras[i]->sourceName, cameraTransforms[i]);
}

} // namespace tavorin
