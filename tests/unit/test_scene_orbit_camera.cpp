// The orbit camera: start pose, turning, panning, zoom steps and limits, reset, framing a box,
// target changes, and GUI-thread writes racing render-thread reads.
#include "scene/OrbitCamera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <utility>

using tavorin::Mat4, tavorin::OrbitCamera, tavorin::Vec4;

namespace {

Vec4 eyeOf(const OrbitCamera& camera)
{
    return camera.pose().translation();
}

// The camera's viewing direction (its -Z axis) in room coordinates.
Vec4 viewDirection(const OrbitCamera& camera)
{
    const Mat4 pose = camera.pose();
    return Vec4::direction(-pose.at(2, 0), -pose.at(2, 1), -pose.at(2, 2));
}

// Normalised device coordinates of a room point through the camera's view and projection.
Vec4 ndcOf(const OrbitCamera& camera, const Vec4& p, int width, int height)
{
    const Vec4 clip = camera.projection(width, height) * (camera.view() * p);
    return Vec4::point(clip.x / clip.w, clip.y / clip.w, clip.z / clip.w);
}

// Viewport pixel of a room point, from the top-left corner.
std::pair<float, float> pixelOf(const OrbitCamera& camera, const Vec4& p, int width, int height)
{
    const Vec4 ndc = ndcOf(camera, p, width, height);
    return {(ndc.x + 1.0f) * 0.5f * static_cast<float>(width), (1.0f - ndc.y) * 0.5f * static_cast<float>(height)};
}

} // namespace

TEST(OrbitCameraPose, StartsAtMinusFiveAlongXLookingAtTheRoomOrigin)
{
    OrbitCamera camera;
    const Vec4 eye = eyeOf(camera);
    EXPECT_NEAR(eye.x, -5.0f, 1e-5f);
    EXPECT_NEAR(eye.y, 0.0f, 1e-5f);
    EXPECT_NEAR(eye.z, 0.0f, 1e-5f);
    const Vec4 forward = viewDirection(camera);
    EXPECT_NEAR(forward.x, 1.0f, 1e-5f);
    // The view takes the target onto the camera's -Z axis at the orbit distance.
    const Vec4 target = camera.view() * Vec4::point(0.0f, 0.0f, 0.0f);
    EXPECT_NEAR(target.x, 0.0f, 1e-5f);
    EXPECT_NEAR(target.y, 0.0f, 1e-5f);
    EXPECT_NEAR(target.z, -5.0f, 1e-5f);
}

TEST(OrbitCameraPose, DragTurnsByPixelsOverSensitivityAndClampsPitch)
{
    OrbitCamera camera;
    camera.setTarget(Vec4::point(0, 0, 0));
    camera.setPointer(100, 100);
    camera.drag(100 + 314, 100); // pi/2 * 200 pixels to the right
    EXPECT_NEAR(camera.yaw(), -1.5707964f + 1.57f, 1e-5f);
    const Vec4 eye = eyeOf(camera);
    EXPECT_NEAR(eye.z, -5.0f, 1e-2f); // yaw ~0: the eye moved to -Z
    EXPECT_NEAR(eye.x, 0.0f, 1e-2f);

    // Dragging down raises the eye, up to 89.1 degrees and no further.
    camera.drag(414, 100 + 100);
    EXPECT_NEAR(camera.pitch(), 0.5f, 1e-6f);
    EXPECT_GT(eyeOf(camera).y, 0.0f);
    camera.drag(414, 10000);
    EXPECT_EQ(camera.pitch(), OrbitCamera::kPitchLimit);
    camera.drag(414, 20000);
    EXPECT_EQ(camera.pitch(), OrbitCamera::kPitchLimit);
    camera.drag(414, -100000);
    EXPECT_EQ(camera.pitch(), -OrbitCamera::kPitchLimit);

    // A press re-anchors: the first drag after it turns only by the movement since the press.
    const float yaw = camera.yaw();
    camera.setPointer(0, 0);
    camera.drag(20, 0);
    EXPECT_NEAR(camera.yaw(), yaw + 0.1f, 1e-6f);
}

TEST(OrbitCameraPose, EachWheelNotchTakesTheSameShareOfTheDistanceWithinItsLimits)
{
    // {notches before, notches, distance after / before}: 0.85 per notch toward the target at any
    // distance, its inverse away; a touchpad's eighth of a notch takes an eighth of the exponent.
    const float cases[][3] = {{0, 1, 0.85f}, {10, 1, 0.85f}, {-6, 1, 0.85f}, {10, -1, 1 / 0.85f}, {0, 0.125f, 0.979889f}};
    for (const auto& c : cases) {
        OrbitCamera camera;
        camera.zoomNotches(c[0]);
        const float before = camera.distance();
        camera.zoomNotches(c[1]);
        EXPECT_NEAR(camera.distance() / before, c[2], 1e-5f) << c[0] << " then " << c[1];
    }
    OrbitCamera camera;
    camera.zoomNotches(1000.0f);
    EXPECT_FLOAT_EQ(camera.distance(), OrbitCamera::kMinDistance);
    camera.zoomNotches(-1000.0f);
    EXPECT_FLOAT_EQ(camera.distance(), OrbitCamera::kMaxDistance);
    for (const float bad : {0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
        camera.zoom(bad);
    EXPECT_FLOAT_EQ(camera.distance(), OrbitCamera::kMaxDistance);
}

TEST(OrbitCameraPose, PanKeepsThePointAtTheTargetDepthUnderThePointer)
{
    // {turn x, turn y, zoom notches, viewport width, height, pointer dx, dy}
    const int cases[][7] = {{0, 0, 0, 960, 720, 150, 50}, {200, -120, 3, 960, 720, -80, 40}, {-300, 250, -4, 400, 801, 13, -90}};
    for (const auto& c : cases) {
        OrbitCamera camera;
        camera.setViewportSize(c[3], c[4]);
        camera.setPointer(0, 0);
        camera.drag(c[0], c[1]);
        camera.zoomNotches(static_cast<float>(c[2]));
        const Vec4 oldTarget = camera.target();
        const float yaw = camera.yaw(), distance = camera.distance();
        camera.setPointer(500, 500);
        for (int step = 1; step <= 5; ++step)
            camera.pan(500 + c[5] * step / 5, 500 + c[6] * step / 5);
        const auto [x, y] = pixelOf(camera, oldTarget, c[3], c[4]);
        EXPECT_NEAR(x, c[3] / 2.0f + c[5], 0.5f) << c[0];
        EXPECT_NEAR(y, c[4] / 2.0f + c[6], 0.5f) << c[0];
        EXPECT_FLOAT_EQ(camera.yaw(), yaw);
        EXPECT_FLOAT_EQ(camera.distance(), distance);
    }
}

TEST(OrbitCameraPose, ResetReturnsToTheStartPoseFromAnyPose)
{
    const OrbitCamera fresh;
    OrbitCamera camera;
    camera.setPointer(0, 0);
    camera.drag(321, -77);
    camera.pan(400, 10);
    camera.zoomNotches(-5.0f);
    camera.reset();
    EXPECT_EQ(camera.target(), OrbitCamera::kInitialTarget);
    EXPECT_EQ(camera.view(), fresh.view());
}

TEST(OrbitCameraPose, FramingCentresTheBoxAndFitsItIntoTheViewport)
{
    struct Case {
        Vec4 lo, hi;
        int width, height, turnX, turnY;
    };
    const Case cases[] = {
        {Vec4::point(-3, 0, -2.5f), Vec4::point(3, 2.6f, 2.5f), 960, 720, 0, 0},        // a room
        {Vec4::point(1, 0.9f, 0.3f), Vec4::point(1.44f, 1.34f, 0.32f), 960, 720, 150, 60}, // a plate
        {Vec4::point(-2, -0.01f, -1), Vec4::point(4, 0.01f, 3), 400, 800, -90, 200},    // a floor, portrait
    };
    for (const Case& c : cases) {
        OrbitCamera camera;
        camera.setViewportSize(c.width, c.height);
        camera.setPointer(0, 0);
        camera.drag(c.turnX, c.turnY);
        camera.frame(c.lo, c.hi);
        EXPECT_TRUE(approxEqual(camera.target(), (c.lo + c.hi) * 0.5f));
        // Every corner inside the viewport, and the box spans most of it along one side.
        float span[2][2] = {{1, -1}, {1, -1}};
        for (int corner = 0; corner < 8; ++corner) {
            const Vec4 p = Vec4::point(corner & 1 ? c.hi.x : c.lo.x, corner & 2 ? c.hi.y : c.lo.y, corner & 4 ? c.hi.z : c.lo.z);
            const Vec4 ndc = ndcOf(camera, p, c.width, c.height);
            EXPECT_LE(std::max(std::fabs(ndc.x), std::fabs(ndc.y)), 1.0f) << corner;
            for (int a = 0; a < 2; ++a) {
                span[a][0] = std::min(span[a][0], a ? ndc.y : ndc.x);
                span[a][1] = std::max(span[a][1], a ? ndc.y : ndc.x);
            }
        }
        EXPECT_GT(std::max(span[0][1] - span[0][0], span[1][1] - span[1][0]), 0.8f) << "of 2";
    }
    // A point comes as near as allowed; a box with a NaN or lo above hi changes nothing.
    OrbitCamera camera;
    camera.frame(Vec4::point(1, 1, 1), Vec4::point(1, 1, 1));
    EXPECT_FLOAT_EQ(camera.distance(), OrbitCamera::kMinDistance);
    const Mat4 pose = camera.pose();
    camera.frame(Vec4::point(0, 0, 0), Vec4::point(std::numeric_limits<float>::quiet_NaN(), 1, 1));
    camera.frame(Vec4::point(2, 0, 0), Vec4::point(1, 1, 1));
    EXPECT_EQ(camera.pose(), pose);
}

TEST(OrbitCameraPose, SetTargetMovesTheEyeOnlyForADifferentPoint)
{
    OrbitCamera camera;
    camera.setTarget(Vec4::point(1.0f, 2.0f, 3.0f));
    Vec4 eye = eyeOf(camera);
    EXPECT_NEAR(eye.x, -4.0f, 1e-5f);
    EXPECT_NEAR(eye.y, 2.0f, 1e-5f);
    EXPECT_NEAR(eye.z, 3.0f, 1e-5f);
    const Mat4 pose = camera.pose();
    camera.setTarget(Vec4::point(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(camera.pose(), pose);
    // w counts too: a direction with the same xyz is a different target.
    camera.setTarget(Vec4::direction(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(camera.target().w, 0.0f);
}

TEST(OrbitCameraThreads, RenderThreadReadsOnlyWholePosesWhileTheGUIThreadTurns)
{
    OrbitCamera camera;
    camera.setTarget(Vec4::point(0, 0, 0));
    std::atomic<bool> done{false};
    std::thread gui([&] {
        camera.setPointer(0, 0);
        for (int i = 1; i <= 20000; ++i) {
            camera.drag(i, (i % 200) - 100);
            camera.zoom(i % 2 ? 0.9f : 1.0f / 0.9f);
        }
        done = true;
    });
    int torn = 0;
    int reads = 0;
    while (!done) {
        // A consistent view keeps the target on the camera's -Z axis, at the eye distance.
        const Mat4 view = camera.view();
        const Vec4 target = view * Vec4::point(0, 0, 0);
        const float d = std::sqrt(target.x * target.x + target.y * target.y);
        if (d > 1e-3f || target.z > 0.0f)
            ++torn;
        ++reads;
    }
    gui.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 0);
}
