// Picking the camera point nearest to a viewport pixel, on synthetic camera records seen through
// the scene's start context (view = identity: the eye at the origin looking along -Z).
#include "scene/DepthCameraData.h"
#include "app/Scene.h"
#include "ui/GLRectangleViewModel.h"
#include "ui/RightBarViewModel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <list>
#include <memory>
#include <thread>
#include <vector>

using tavorin::DepthCameraData, tavorin::GLRectangleViewModel, tavorin::Mat4, tavorin::OrbitCamera, tavorin::RightBarViewModel,
    tavorin::Scene, tavorin::translate;

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr float kDepth = 2.0f; // metres in front of the eye
constexpr double kPi = 3.14159265358979;

// Camera point at kDepth whose pixel (from the top-left) is (sx, sy), for a record with the
// identity model matrix: the pinhole model of an 80-degree vertical field of view.
std::array<float, 3> pointAtPixel(double sx, double sy)
{
    const double focal = 1.0 / std::tan(40.0 * kPi / 180.0);
    const double aspect = double(kWidth) / kHeight;
    const double ndcX = sx / kWidth * 2.0 - 1.0;
    const double ndcY = 1.0 - sy / kHeight * 2.0;
    return {float(ndcX * kDepth * aspect / focal), float(ndcY * kDepth / focal), -kDepth};
}

struct SyntheticCamera {
    std::vector<float> buffer;
    std::shared_ptr<DepthCameraData> record = std::make_shared<DepthCameraData>();

    explicit SyntheticCamera(const std::vector<std::array<float, 3>>& points, const Mat4& model = Mat4())
    {
        for (const auto& p : points)
            buffer.insert(buffer.end(), {p[0], p[1], p[2], 1.0f});
        record->points = buffer.data();
        record->width = static_cast<std::int32_t>(points.size());
        record->height = 1;
        record->modelMatrix = model;
    }
};

// A scene of one point under the given pixel, with the bar and the view's input attached.
struct OnePointView {
    RightBarViewModel rightBar;
    Scene scene;
    GLRectangleViewModel input;
    std::array<float, 3> p;
    SyntheticCamera camera;

    OnePointView(double px, double py) : p(pointAtPixel(px, py)), camera({p})
    {
        scene.attachRightBar(&rightBar);
        scene.setViewportSize(kWidth, kHeight);
        input.attachScene(&scene);
        scene.sceneState().cameras.push_back(camera.record);
        rightBar.setCalibCursorX(5.0f);
    }
};

class PickPoint : public ::testing::Test {
protected:
    void SetUp() override
    {
        rightBar.setCalibCursorX(-7.0f);
        rightBar.setCalibCursorY(-7.0f);
        rightBar.setCalibCursorZ(-7.0f);
        scene.attachRightBar(&rightBar);
        scene.setViewportSize(kWidth, kHeight);
        QObject::connect(&rightBar, &RightBarViewModel::calibCursorXChanged, [this] { ++cursorChanges; });
    }

    // A camera of these points (in its own frame) among the scene's records, kept for the test.
    void add(const std::vector<std::array<float, 3>>& points, const Mat4& model = Mat4())
    {
        scene.sceneState().cameras.push_back(cameras.emplace_back(points, model).record);
    }

    void expectCursor(const std::array<float, 3>& p) { expectCursor(p[0], p[1], p[2]); }
    void expectCursor(float x, float y, float z)
    {
        EXPECT_NEAR(rightBar.calibCursorX(), x, 1e-5f);
        EXPECT_NEAR(rightBar.calibCursorY(), y, 1e-5f);
        EXPECT_NEAR(rightBar.calibCursorZ(), z, 1e-5f);
    }

    std::list<SyntheticCamera> cameras; // outlive the scene's records of them
    RightBarViewModel rightBar;
    Scene scene;
    int cursorChanges = 0;
};

} // namespace

TEST_F(PickPoint, NoRecordsChangeNothingAndEmitNothing)
{
    scene.pickPoint(400, 300);
    EXPECT_EQ(cursorChanges, 0);
    expectCursor(-7.0f, -7.0f, -7.0f);
}

TEST_F(PickPoint, NearestPointWinsAndIsReportedInRoomCoordinates)
{
    const auto far = pointAtPixel(450, 300);
    const auto near = pointAtPixel(410, 305);
    add({far});
    add({near});
    scene.pickPoint(400, 300);
    expectCursor(near);
    EXPECT_EQ(cursorChanges, 1);

    // The room position carries the record's model matrix; its pixel moves with it.
    scene.sceneState().cameras.clear();
    add({pointAtPixel(400, 300)}, translate(Mat4(), 0.0f, 0.0f, -1.0f));
    scene.pickPoint(400, 300);
    const auto centre = pointAtPixel(400, 300);
    expectCursor(centre[0], centre[1], centre[2] - 1.0f);
}

TEST_F(PickPoint, LaterPointMustBeNearerThanTheWholePixelsOfTheChosenOne)
{
    const auto at37 = pointAtPixel(403.7, 300);
    const auto at32 = pointAtPixel(403.2, 300);
    add({at37, at32});
    scene.pickPoint(400, 300);
    expectCursor(at37); // 3.2 is not below 3

    const auto at29 = pointAtPixel(402.9, 300);
    add({at29});
    scene.pickPoint(400, 300);
    expectCursor(at29);
}

TEST_F(PickPoint, ZeroAndNotANumberPointsAreNeverPicked)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto other = pointAtPixel(480, 300);
    // (0, 0, 0) of this camera lies in the room right under the pointer, at the viewport centre.
    add({{0.0f, 0.0f, 0.0f}, {nan, 0.0f, -2.0f}, {other[0], other[1], other[2] + 2.0f}},
        translate(Mat4(), 0.0f, 0.0f, -2.0f));
    scene.pickPoint(400, 300);
    expectCursor(other);
}

TEST_F(PickPoint, NothingWithin9999PixelsChangesNothing)
{
    const auto p = pointAtPixel(10, 300);
    add({p});
    scene.pickPoint(-10000, 300); // 10010 pixels away
    EXPECT_EQ(cursorChanges, 0);
    expectCursor(-7.0f, -7.0f, -7.0f);
    scene.pickPoint(-9000, 300); // 9010 pixels away
    expectCursor(p);
}

TEST_F(PickPoint, PointsOutsideTheViewportOrBehindTheEyeAreSkipped)
{
    const auto outside = pointAtPixel(805, 300);
    const auto inside = pointAtPixel(700, 300);
    add({outside, {0.1f, 0.0f, 2.0f}, inside});
    scene.pickPoint(799, 300);
    expectCursor(inside);
}

TEST_F(PickPoint, WaitsForTheFrameStepToFinish)
{
    const auto p = pointAtPixel(400, 300);
    add({p});
    std::atomic<bool> picked{false};
    std::unique_lock<std::mutex> frameStep(scene.frameLock());
    std::thread gui([&] {
        scene.pickPoint(400, 300);
        picked = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(picked.load()) << "picked while the render thread held the frame lock";
    frameStep.unlock();
    gui.join();
    EXPECT_TRUE(picked.load());
    expectCursor(p);
}

TEST(ViewportInput, ClickWithinOnePixelPicksAndAnythingElseOnlyTurns)
{
    OnePointView view(100, 100);
    auto& [rightBar, scene, input, p, camera] = view;

    input.onPressed(100, 100);
    input.onReleased(102, 100); // two pixels: a drag, not a click
    EXPECT_EQ(rightBar.calibCursorX(), 5.0f);

    const float yaw = scene.camera().yaw();
    input.onPressed(300, 300);
    input.onPositionChanged(340, 300);
    EXPECT_NEAR(scene.camera().yaw(), yaw + 0.2f, 1e-6f);
    input.onPositionChanged(301, 301); // back near the press: the release counts as a click
    input.onReleased(301, 301);
    EXPECT_NEAR(rightBar.calibCursorX(), p[0], 1e-5f); // the only point, 283 pixels away

    rightBar.setCalibCursorX(5.0f);
    input.onPressed(100, 100);
    input.onReleased(101, 99);
    EXPECT_NEAR(rightBar.calibCursorX(), p[0], 1e-5f);
}

TEST(ViewportInput, WheelNotchesZoomInOrOutAndHorizontalScrollingDoesNot)
{
    Scene scene;
    GLRectangleViewModel input;
    input.attachScene(&scene);
    input.onWheel(120.0);
    EXPECT_FLOAT_EQ(scene.camera().distance(), 4.25f);
    input.onWheel(0.0); // pure horizontal scrolling
    EXPECT_FLOAT_EQ(scene.camera().distance(), 4.25f);
    input.onWheel(-120.0);
    EXPECT_NEAR(scene.camera().distance(), 5.0f, 1e-5f);
}

TEST(ViewportInput, LeftDragsTurnAndClicksPickWhileRightAndMiddleDragsPanAndNeverPick)
{
    OnePointView view(200, 200);
    auto& [rightBar, scene, input, p, camera] = view;
    for (const int button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        rightBar.setCalibCursorX(5.0f);
        scene.camera().reset();
        const bool left = button == Qt::LeftButton;
        input.onPressed(300, 300, button);
        input.onPositionChanged(340, 300);
        EXPECT_EQ(scene.camera().yaw() != OrbitCamera::kInitialYaw, left) << button;
        EXPECT_EQ(scene.camera().target() != OrbitCamera::kInitialTarget, !left) << button;
        input.onReleased(340, 300);
        input.onPressed(100, 100, button);
        input.onReleased(100, 100);
        EXPECT_EQ(rightBar.calibCursorX() != 5.0f, left) << button;
    }
}

TEST(ViewportInput, ReleaseWithoutPressComparesWithMinusOne)
{
    OnePointView view(400, 300);
    auto& [rightBar, scene, input, p, camera] = view;

    GLRectangleViewModel notAClick;
    notAClick.attachScene(&scene);
    notAClick.onReleased(2, 2);
    EXPECT_EQ(rightBar.calibCursorX(), 5.0f);
    GLRectangleViewModel click;
    click.attachScene(&scene);
    click.onReleased(0, 0);
    EXPECT_NEAR(rightBar.calibCursorX(), p[0], 1e-5f);
}
