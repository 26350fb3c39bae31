#include "scene/DepthCameraData.h"
#include "app/SetDepthImageSourceAction.h"
#include "light/SingleLightEnablerOptimizer.h"
#include "scene/DepthCameraProcessor.h"
#include "scene/LightModuleRecord.h"
#include "scene/TubeRecord.h"
#include "ui/GlobalStateHandler.h"
#include "ui/RecordingFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

using tavorin::DepthCameraData, tavorin::GlobalStateHandler, tavorin::LightIntensityOptimizer,
    tavorin::LightModuleRecord, tavorin::Mat4, tavorin::Vec4, tavorin::recordingFiles, tavorin::RightBarViewModel, tavorin::SceneState,
    tavorin::SingleLightEnablerOptimizer, tavorin::translate, tavorin::TubeRecord;

namespace {

// Records every action the view model enqueues by running the queue with a stand-in source type.
class RightBarTest : public ::testing::Test {
protected:
    RightBarTest() : bar(handler.rightBarViewModel), state(handler.scene.sceneState()) {}

    std::shared_ptr<LightModuleRecord> addLight(float x, float y, float z, float maxIntensity)
    {
        auto light = std::make_shared<LightModuleRecord>();
        light->transform = translate(Mat4(), x, y, z);
        light->maxIntensity = maxIntensity;
        state.lights.push_back(light);
        return light;
    }

    GlobalStateHandler handler;
    RightBarViewModel& bar;
    SceneState& state;
};

class NullOptimizer : public LightIntensityOptimizer {
public:
    void process(SceneState&) override {}
};

} // namespace

TEST_F(RightBarTest, EqualValuesDoNothingAndNaNAlwaysCounts)
{
    std::vector<float> diameterSignals;
    QObject::connect(&bar, &RightBarViewModel::tubusDiameterChanged,
                     [&](float value) { diameterSignals.push_back(value); });

    bar.setTubusDiameter(0.05f);
    EXPECT_TRUE(diameterSignals.empty());
    EXPECT_EQ(state.pendingActions(), 0u) << "an equal value enqueues nothing";

    bar.setTubusDiameter(0.2f);
    ASSERT_EQ(diameterSignals.size(), 1u);
    EXPECT_FLOAT_EQ(diameterSignals[0], 0.2f);
    EXPECT_EQ(state.pendingActions(), 1u);

    bar.setTubusDiameter(NAN);
    bar.setTubusDiameter(NAN);
    EXPECT_EQ(diameterSignals.size(), 3u) << "NaN never equals the stored value";
    EXPECT_EQ(state.pendingActions(), 3u);

    int flagSignals = 0;
    QObject::connect(&bar, &RightBarViewModel::debug_showKinectPCChanged, [&](bool) { ++flagSignals; });
    bar.setDebug_showKinectPC(true);
    bar.setDebug_showKinectPC(false);
    bar.setDebug_showKinectPC(false);
    EXPECT_EQ(flagSignals, 1);
    EXPECT_FALSE(bar.debug_showKinectPC());
}

TEST_F(RightBarTest, TubeChangesCarryAllSevenCurrentValues)
{
    auto tube = std::make_shared<TubeRecord>();
    state.tubes.push_back(tube);
    bar.setTubusDepth(0.1f);
    bar.setTubusPositionX(0.5f);
    state.step();
    EXPECT_FLOAT_EQ(tube->depth, 0.1f);
    EXPECT_FLOAT_EQ(tube->diameter, 0.05f);
    EXPECT_FLOAT_EQ(tube->transform.m[12], 0.5f);
    EXPECT_FLOAT_EQ(tube->transform.m[13], 1.0f) << "position y starts at 1";
}

// No built-in points: a point is where the cursor was when it was saved.
TEST_F(RightBarTest, RoomPointsTakeTheCursorAndOutOfRangeIdsAreIgnored)
{
    EXPECT_EQ(bar.getRoomCalibPointString(-1).toStdString(), "NULL");
    EXPECT_EQ(bar.getRoomCalibPointString(3).toStdString(), "NULL");

    bar.setCalibCursorX(1.234f);
    bar.setCalibCursorY(-0.006f);
    bar.setCalibCursorZ(2.5f);
    bar.storeRoomCalibPoint(3);
    bar.storeRoomCalibPoint(-1);
    EXPECT_EQ(bar.getRoomCalibPointString(2).toStdString(), "0.00 x 0.00 x 0.00");
    bar.storeRoomCalibPoint(2);
    EXPECT_EQ(bar.getRoomCalibPointString(2).toStdString(), "1.23 x -0.01 x 2.50");
}

TEST(RecordingFiles, FileUrlsBecomeAbsolutePathsAndOnlyRecordingsCollectFiles)
{
    using Paths = std::vector<std::string>;
    EXPECT_EQ(recordingFiles(1, {"file:///home/u/rec one.h5", "", "file:///tmp/b%20c.h5"}),
              (Paths{"/home/u/rec one.h5", "/tmp/b c.h5"}));
    EXPECT_EQ(recordingFiles(1, {"", "", ""}), Paths{}) << "no files: a recording source with none";
    EXPECT_EQ(recordingFiles(0, {"file:///home/u/ignored.h5", "", ""}), Paths{});
    EXPECT_EQ(recordingFiles(2, {"file:///home/u/ignored.h5", "", ""}), Paths{});
    EXPECT_EQ(recordingFiles(1, {"12345678rest.h5", "short", ""}), (Paths{"rest.h5", ""}))
        << "text that is no file URL keeps the eight-character rule";
}

TEST_F(RightBarTest, EverySourceChoiceEnqueuesOneSwitch)
{
    bar.setDepthImageSource(1, "file:///home/u/a.h5");
    bar.setDepthImageSource(0, "file:///home/u/ignored.h5");
    bar.setDepthImageSource(1);
    EXPECT_EQ(state.pendingActions(), 3u);
}

TEST_F(RightBarTest, SelectingAModuleReadsItBackAndInstallsTheSingleLightOptimizer)
{
    std::vector<float> rotationX;
    QObject::connect(&bar, &RightBarViewModel::calibModulRotationXChanged,
                     [&](float value) { rotationX.push_back(value); });
    std::vector<int> ids;
    QObject::connect(&bar, &RightBarViewModel::calibModulIDChanged, [&](int value) { ids.push_back(value); });

    // With no modules the optimizer is installed but nothing is read back.
    bar.setCalibModulID(0);
    EXPECT_EQ(ids, std::vector<int>{0});
    EXPECT_TRUE(rotationX.empty());
    auto single = std::dynamic_pointer_cast<SingleLightEnablerOptimizer>(state.lightOptimizer);
    ASSERT_TRUE(single);
    EXPECT_EQ(single->selectedIndex, 0);
    bar.setCalibModulID(-1);

    for (int i = 0; i < 5; ++i)
        addLight(static_cast<float>(i), 2.0f, -1.0f, 0.5f + static_cast<float>(i));
    bar.setCalibModulID(3);
    EXPECT_FLOAT_EQ(bar.calibModulRotationX(), 0.3f);
    EXPECT_FLOAT_EQ(bar.calibModulRotationY(), -0.3f);
    EXPECT_FLOAT_EQ(bar.calibModulPositionX(), 3.0f);
    EXPECT_FLOAT_EQ(bar.calibModulPositionZ(), -1.0f);
    EXPECT_FLOAT_EQ(bar.calibModulMaxIntensity(), 3.5f);
    EXPECT_FLOAT_EQ(state.lights[3]->transform.m[12], 3.0f);

    // Editing the position writes it into the selected module's mount, before the signal.
    float mountAtSignal = 0.0f;
    QObject::connect(&bar, &RightBarViewModel::calibModulPositionYChanged,
                     [&](float) { mountAtSignal = state.lights[3]->transform.m[13]; });
    bar.setCalibModulPositionY(1.25f);
    EXPECT_FLOAT_EQ(mountAtSignal, 1.25f);
    EXPECT_FLOAT_EQ(state.lights[3]->transform.m[13], 1.25f);
    EXPECT_FLOAT_EQ(state.lights[2]->transform.m[13], 2.0f);
}

TEST_F(RightBarTest, DeselectingPutsBackExactlyTheOptimizerInstalledBefore)
{
    auto previous = std::make_shared<NullOptimizer>();
    state.lightOptimizer = previous;
    bar.setCalibModulID(1);
    EXPECT_NE(state.lightOptimizer, previous);
    bar.setCalibModulID(3);
    bar.setCalibModulID(-1);
    EXPECT_EQ(state.lightOptimizer, previous);

    // Without an optimizer before, the single-light one stays with its last selection.
    state.lightOptimizer = nullptr;
    bar.setCalibModulID(1);
    bar.setCalibModulID(3);
    bar.setCalibModulID(-1);
    auto single = std::dynamic_pointer_cast<SingleLightEnablerOptimizer>(state.lightOptimizer);
    ASSERT_TRUE(single);
    EXPECT_EQ(single->selectedIndex, 3);
}

// A depth source that takes the matrices it is given, as a real one does for the next frame.
class MatrixTakingSource : public tavorin::DepthCameraProcessor {
public:
    void process(SceneState&) override {}
    void setModelMatrix(std::string, const Mat4&) override { ++calls; }
    int calls = 0;
};

// "Register World" takes only points saved since the last room registration: before any and right
// after one it is refused and changes nothing. Undo puts the matrices back exactly, and the undone
// registration's points give the same frame again; points saved again on the same floor marks
// find it in effect.
TEST_F(RightBarTest, RegisterWorldNeedsItsThreePointsAndCanBeUndone)
{
    auto source = std::make_shared<MatrixTakingSource>();
    state.depthSource = source;
    const Mat4 T_camera0_camera1 = translate(tavorin::rotate(Mat4(), 0.7f, tavorin::AxisY), 2.0f, 0.1f, 0.5f);
    const auto camera = [](const Mat4& m, const char* name) {
        auto record = std::make_shared<DepthCameraData>();
        record->modelMatrix = m;
        record->sourceName = name;
        return record;
    };
    state.cameras = {camera(Mat4(), "a"), camera(T_camera0_camera1, "b")};
    // A floor 2.2 m below camera 0, tilted a little, as its own coordinates see it.
    const Mat4 T_camera0_floor = translate(tavorin::rotate(Mat4(), 0.1f, tavorin::AxisX), 0.3f, -2.2f, 3.0f);
    const Vec4 floorPoints[3] = {T_camera0_floor * Vec4::point(1.2f, 0, 0), T_camera0_floor * Vec4::point(0, 0, 0),
                                 T_camera0_floor * Vec4::point(0, 0, 0.8f)};
    const auto savePoints = [&](const Mat4& T_drawn_camera0, int count) {
        for (int id = 0; id < count; ++id) {
            const Vec4 p = T_drawn_camera0 * floorPoints[id];
            bar.setCalibCursorX(p.x);
            bar.setCalibCursorY(p.y);
            bar.setCalibCursorZ(p.z);
            bar.storeRoomCalibPoint(id);
        }
    };
    const auto pressed = [&](void (RightBarViewModel::*button)()) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        // std::invoke, not `(bar.*button)()`: GCC 12's vptr check takes that call inside a lambda
        // for an access through the closure and reports a RightBarTest at its stack address.
        std::invoke(button, bar);
        return testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    };
    const auto unchanged = [&](const Mat4& m0, const Mat4& m1) {
        return state.cameras[0]->modelMatrix == m0 && state.cameras[1]->modelMatrix == m1;
    };
    const std::string refused = "Register World refused: Save Points 0, 1 and 2 first. Nothing changed.";

    savePoints(Mat4(), 2);
    EXPECT_NE(pressed(&RightBarViewModel::registrateRoom).find(refused), std::string::npos);
    EXPECT_EQ(bar.roomCheck().toStdString(), "Refused: Save Points 0, 1 and 2 first");
    EXPECT_TRUE(unchanged(Mat4(), T_camera0_camera1));
    EXPECT_NE(pressed(&RightBarViewModel::undoRoomRegistration).find("no room registration to undo"), std::string::npos);

    savePoints(Mat4(), 3);
    pressed(&RightBarViewModel::registrateRoom);
    const Mat4 first0 = state.cameras[0]->modelMatrix;
    const Mat4 first1 = state.cameras[1]->modelMatrix;
    EXPECT_FALSE(unchanged(Mat4(), T_camera0_camera1));
    EXPECT_EQ(bar.getRoomCalibPointString(1).toStdString(), "-0.60 x 0.00 x -0.40") << "the corner, in the room";
    EXPECT_NE(pressed(&RightBarViewModel::registrateRoom).find(refused), std::string::npos) << "its points are used up";
    EXPECT_TRUE(unchanged(first0, first1));

    EXPECT_NE(pressed(&RightBarViewModel::undoRoomRegistration).find("matrices of 2 cameras are back"), std::string::npos);
    EXPECT_TRUE(unchanged(Mat4(), T_camera0_camera1));
    pressed(&RightBarViewModel::registrateRoom);
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(first0.m[i], state.cameras[0]->modelMatrix.m[i], 1e-5f) << i;
        EXPECT_NEAR(first1.m[i], state.cameras[1]->modelMatrix.m[i], 1e-5f) << i;
    }
    savePoints(first0, 3);
    EXPECT_NE(pressed(&RightBarViewModel::registrateRoom).find("nothing changes"), std::string::npos);
    EXPECT_EQ(6, source->calls) << "two registrations and an undo, of two cameras each";

    state.cameras.clear();
    savePoints(Mat4(), 3);
    EXPECT_NE(pressed(&RightBarViewModel::registrateRoom).find("Register World refused: no camera streams"),
              std::string::npos) << "without cameras there is nothing to register";
}

TEST_F(RightBarTest, StoringCalibrationsWritesThePlacedCamerasOnlyAndReportsAFailure)
{
    const std::string folder = ::testing::TempDir() + "/right_bar_store";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    auto camera = std::make_shared<DepthCameraData>();
    camera->configPath = folder + "/camera.json";
    camera->modelMatrix = translate(Mat4(), 0.5f, 0, 0);
    // A second camera that neither a stored calibration nor the registration placed keeps its
    // identity out of the files.
    auto unplaced = std::make_shared<DepthCameraData>();
    unplaced->configPath = folder + "/unplaced.json";
    state.cameras = {camera, unplaced};
    EXPECT_TRUE(bar.storeCalibrations());
    EXPECT_TRUE(std::filesystem::exists(camera->configPath));
    EXPECT_FALSE(std::filesystem::exists(unplaced->configPath));

    auto unwritable = std::make_shared<DepthCameraData>();
    unwritable->configPath = camera->configPath + "/camera.json"; // under a file: no folder can be made
    state.cameras = {unwritable, camera};
    EXPECT_FALSE(bar.storeCalibrations());
}
