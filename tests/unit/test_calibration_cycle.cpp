#include "calibration/cycle/DepthCameraCalibrator.h"

#include "calibration/quality/RegistrationProgress.h"
#include "scene/SceneState.h"
#include "test_calibration_fake_source.h"
#include "test_calibration_plate_scene.h"

#include "test_calibration_transform_error.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using tavorin::AxisX, tavorin::AxisY, tavorin::AxisZ, tavorin::DepthCameraCalibrator, tavorin::distance,
    tavorin::inverse, tavorin::LatticeDetectionResult, tavorin::Mat4, tavorin::progressLine,
    tavorin::RegistrationProgress, tavorin::rotate, tavorin::SceneState, tavorin::translate, tavorin::Vec4;

namespace {

constexpr float kDegree = 3.14159265358979f / 180.0f;

// Camera records whose point buffers (4 floats per pixel, as the sources publish them) are
// rendered from a plate pose given in camera 0's frame.
struct Rig {
    std::vector<Mat4> T_0_camera; // camera i -> camera 0
    std::vector<std::vector<float>> buffers;
    std::shared_ptr<MatrixRecordingSource> source = std::make_shared<MatrixRecordingSource>();
    SceneState state;

    explicit Rig(std::vector<Mat4> poses) : T_0_camera(std::move(poses))
    {
        state.depthSource = source;
        for (std::size_t i = 0; i < T_0_camera.size(); ++i) {
            buffers.emplace_back(PlateScene::kWidth * PlateScene::kHeight * 4, 0.0f);
            state.cameras.push_back(cameraRecord("cam" + std::to_string(i), buffers.back().data(), PlateScene::kWidth,
                                                 PlateScene::kHeight));
        }
    }

    void showPlate(const PlatePose& inCamera0, unsigned seed)
    {
        for (std::size_t i = 0; i < T_0_camera.size(); ++i) {
            const Mat4 T_camera_0 = inverse(T_0_camera[i]);
            const PlatePose pose{T_camera_0 * inCamera0.centre, T_camera_0 * inCamera0.a, T_camera_0 * inCamera0.b};
            PlateScene scene;
            scene.renderPlate(pose, 0.0015f, seed + static_cast<unsigned>(i) * 1000);
            for (int k = 0; k < PlateScene::kWidth * PlateScene::kHeight; ++k)
                for (int c = 0; c < 3; ++c)
                    buffers[i][static_cast<std::size_t>(k) * 4 + c] = scene.points[static_cast<std::size_t>(k) * 3 + c];
        }
    }
};

// Camera 1 one metre to the side of camera 0, turned toward the plate.
Mat4 sideCamera()
{
    return translate(rotate(Mat4::identity(), 30.0f * kDegree, AxisY), -0.9f, 0.05f, 0.2f);
}

PlatePose plateAt(int frame)
{
    PlatePose pose = PlatePose{}
                         .turned((15.0f + 11.0f * static_cast<float>(frame)) * kDegree, AxisZ)
                         .turned((-12.0f + 3.0f * static_cast<float>(frame % 5)) * kDegree, AxisY)
                         .turned((static_cast<float>(frame % 3) - 1.0f) * 8.0f * kDegree, AxisX);
    pose.centre = Vec4::point(-0.35f + 0.02f * static_cast<float>(frame % 4), 0.03f * static_cast<float>(frame % 3) - 0.03f,
                              1.6f + 0.04f * static_cast<float>(frame % 5));
    return pose;
}

// The joint estimate gives the second camera its matrix (camera 0 keeps the identity), once it
// trusts it; the pairwise registration agrees.
TEST(DepthCameraCalibrator, RegistersASecondCameraFromAMovingPlate)
{
    Rig rig({Mat4::identity(), sideCamera()});
    DepthCameraCalibrator calibrator;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    constexpr int kFrames = 12;
    for (int frame = 0; frame < kFrames; ++frame) {
        rig.showPlate(plateAt(frame), static_cast<unsigned>(frame + 1));
        calibrator.calibrateDepthCameras(rig.state);
    }
    calibrator.finishJointEstimate(rig.state);
    const std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Kinect 0: LATTICE FOUND!\n"), std::string::npos);
    EXPECT_NE(out.find("Kinect 1: LATTICE FOUND!\n"), std::string::npos);
    for (const LatticeDetectionResult& r : calibrator.lastDetections())
        EXPECT_TRUE(r.found);

    ASSERT_EQ(calibrator.transforms().size(), 2u);
    EXPECT_LT(rotationErrorDegrees(calibrator.transforms()[1], sideCamera()), 0.2f);
    ASSERT_GE(rig.source->calls.size(), 2u);
    const auto& last = rig.source->calls.back();
    EXPECT_EQ(last.first, "cam1");
    EXPECT_LT(rotationErrorDegrees(last.second, sideCamera()), 0.05f);
    EXPECT_LT(distance(last.second.translation(), sideCamera().translation()), 0.001f);
    EXPECT_EQ(rig.source->calls[rig.source->calls.size() - 2], std::make_pair(std::string("cam0"), Mat4::identity()));

    const std::vector<RegistrationProgress> progress = calibrator.progress();
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_TRUE(progress[0].reference);
    for (const RegistrationProgress& camera : progress) {
        EXPECT_EQ(static_cast<std::size_t>(kFrames), camera.framesFound);
        EXPECT_EQ(static_cast<std::size_t>(kFrames), camera.framesExamined);
        EXPECT_TRUE(camera.calibrated);
    }
    EXPECT_GT(progress[1].rmsMm, 0.0);
    EXPECT_LT(progress[1].rmsMm, 3.0);
}

TEST(DepthCameraCalibrator, ProgressLinesTellFramesResidualSigmaAndDepthOrWhatIsMissing)
{
    struct Case {
        std::size_t index;
        RegistrationProgress progress;
        const char* line;
    };
    const auto seen = [](std::size_t found, std::size_t examined, bool reference) {
        RegistrationProgress p;
        p.framesFound = found;
        p.framesExamined = examined;
        p.reference = reference;
        return p;
    };
    const auto calibrated = [&](bool reference) {
        RegistrationProgress p = seen(87, 120, reference);
        p.calibrated = true;
        p.rmsMm = 0.4449;
        p.sigmaMm = 0.123;
        p.sigmaDeg = 0.0041;
        p.depthErrorMm = 5.64;
        p.plateDistanceM = 1.87;
        p.clockOffsetObservable = true;
        p.clockOffsetMs = 23.14;
        return p;
    };
    RegistrationProgress unreachable = seen(30, 120, false);
    unreachable.notCalibratedWhy = "has not seen the plate together with a registered camera";
    const Case cases[] = {
        {0, calibrated(true), "Camera 0: 87/120 frames (reference), depth +5.6 mm"},
        {1, calibrated(false), "Camera 1: 87/120 frames, RMS 0.44 mm, 1\u03c3 0.12 mm 0.004\u00b0, depth +5.6 mm, clock +23.1 ms"},
        {2, seen(0, 12, false), "Camera 2: plate not seen yet (12 frames)"},
        {5, [&] {
             RegistrationProgress p = calibrated(false);
             p.narrowDistances = true;
             return p;
         }(),
         "Camera 5: 87/120 frames, RMS 0.44 mm, 1\u03c3 0.12 mm 0.004\u00b0, depth +5.6 mm (vary the distance), clock +23.1 ms"},
        {6, [&] {
             RegistrationProgress p = calibrated(false);
             p.clockOffsetObservable = false;
             return p;
         }(),
         "Camera 6: 87/120 frames, RMS 0.44 mm, 1\u03c3 0.12 mm 0.004\u00b0, depth +5.6 mm, clock not observable"},
        {3, seen(12, 120, false), "Camera 3: 12/120 frames, not calibrated yet"},
        {4, unreachable, "Camera 4: 30/120 frames, not calibrated yet: has not seen the plate together with a registered camera"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.line, progressLine(c.index, c.progress));
}

TEST(DepthCameraCalibrator, ACameraWithoutLatticeIsReportedWithTwoSpaces)
{
    Rig rig({Mat4::identity(), sideCamera()});
    rig.showPlate(plateAt(0), 1);
    std::fill(rig.buffers[1].begin(), rig.buffers[1].end(), 0.0f);
    DepthCameraCalibrator calibrator;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    calibrator.calibrateDepthCameras(rig.state);
    const std::string out = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("\nKinect 0: LATTICE FOUND!\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nKinect 1:  Lattice not found.\n"), std::string::npos) << out;
}

// Each stage reports its misuse; run after run, a report is written once and then counted, never
// once per frame (other tests of the process may have written it already).
TEST(DepthCameraCalibrator, WithoutCamerasEveryStageReportsOnceAndNoMatrixChanges)
{
    SceneState state;
    auto source = std::make_shared<MatrixRecordingSource>();
    state.depthSource = source;
    DepthCameraCalibrator calibrator;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    for (int run = 0; run < 5; ++run)
        calibrator.calibrateDepthCameras(state);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const std::set<std::string> reports = {
        "No points given (addCorrespondencePoints)!",
        "The number of specified point clouds has to be 2 at minimum! Was 0",
        "matchAllGridHoles_ByRoughRegistration: There must be at least 2 array elements for registration!"};
    std::istringstream lines(testing::internal::GetCapturedStderr());
    std::set<std::string> written;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(1u, reports.count(line)) << line;
        EXPECT_TRUE(written.insert(line).second) << "written twice: " << line;
    }
    EXPECT_TRUE(source->calls.empty());
}

// The first frame of a camera set only feeds the rough registration (two points are too few to
// register), so the fine one gains 25 points per frame from the second frame on.
TEST(DepthCameraCalibrator, AChangeOfCameraCountEmptiesBothRegistrations)
{
    Rig rig({Mat4::identity(), sideCamera(), translate(Mat4::identity(), 0.3f, 0.0f, 0.0f)});
    const auto third = rig.state.cameras.back();
    rig.state.cameras.pop_back();
    DepthCameraCalibrator calibrator;
    std::vector<std::size_t> finePoints;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    for (int frame = 0; frame < 5; ++frame) {
        if (frame == 3)
            rig.state.cameras.push_back(third);
        rig.showPlate(plateAt(frame), static_cast<unsigned>(frame + 1));
        calibrator.calibrateDepthCameras(rig.state);
        finePoints.push_back(calibrator.fineRegistration().referencePointCount());
    }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(finePoints, (std::vector<std::size_t>{0, 25, 50, 0, 25}));
    EXPECT_EQ(calibrator.fineRegistration().cloudCount(), 3u);
    EXPECT_EQ(calibrator.transforms().size(), 3u);
}

} // namespace
