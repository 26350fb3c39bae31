// The orbit camera: start pose, turning and zoom limits, target changes, and GUI-thread writes
// racing render-thread reads.
#include "scene/OrbitCamera.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

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

} // namespace

TEST(OrbitCameraPose, StartsAtMinusFiveAlongXLookingAtTheTarget)
{
    OrbitCamera camera;
    const Vec4 eye = eyeOf(camera);
    EXPECT_NEAR(eye.x, -5.0f, 1e-5f);
    EXPECT_NEAR(eye.y, 1.1f, 1e-5f);
    EXPECT_NEAR(eye.z, 0.0f, 1e-5f);
    const Vec4 forward = viewDirection(camera);
    EXPECT_NEAR(forward.x, 1.0f, 1e-5f);
    // The view takes the target onto the camera's -Z axis at the orbit distance.
    const Vec4 target = camera.view() * Vec4::point(0.0f, 1.1f, 0.0f);
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

TEST(OrbitCameraPose, ZoomStaysWithinNearAndFar)
{
    OrbitCamera camera;
    for (int i = 0; i < 100; ++i)
        camera.zoom(0.8f);
    EXPECT_FLOAT_EQ(camera.distance(), 0.02f);
    for (int i = 0; i < 100; ++i)
        camera.zoom(1.2f);
    EXPECT_FLOAT_EQ(camera.distance(), 50.0f);
    const Vec4 eye = eyeOf(camera);
    EXPECT_NEAR(eye.x, -50.0f, 1e-3f);
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
