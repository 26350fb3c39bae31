// The cameras' transforms as ROS tools take them: a point a camera sees lands, through the
// published translation and quaternion, where the room has it (z up), or before a room
// registration where camera 0 sees it; each child is the frame the camera's images carry.
#include "network/ros/CameraTransforms.h"

#include "scene/DepthCameraData.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

using tavorin::DepthCameraData, tavorin::Mat4, tavorin::StaticTransform, tavorin::translate, tavorin::Vec4;

namespace {

using Point = std::array<double, 3>;

// Where tf2 puts a point of the child frame in the parent frame: v + 2w (q x v) + 2 q x (q x v),
// then the translation.
void expectInParent(const StaticTransform& transform, const Point& child, const Point& parent, const char* what)
{
    constexpr double kToleranceM = 1e-5; // the model matrices are floats
    const auto& [x, y, z, w] = transform.rotation;
    const Point a = {y * child[2] - z * child[1], z * child[0] - x * child[2], x * child[1] - y * child[0]};
    const Point b = {y * a[2] - z * a[1], z * a[0] - x * a[2], x * a[1] - y * a[0]};
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(parent[i], child[i] + 2 * w * a[i] + 2 * b[i] + transform.translation[i], kToleranceM)
            << what << ", axis " << i;
}

} // namespace

// Cameras placed in the room (x toward room point 0, y up, z toward room point 2) by where their
// images point (camera coordinates: x to the image's left, y up, z along the view); the points'
// coordinates in the published room (x, -z, y) are worked out by hand from each scene.
TEST(NetworkTf, PointsLandWhereTheRoomHasThemWithZUp)
{
    const float d = std::sqrt(0.5f);
    const struct {
        const char* name;
        Vec4 position, imageRight, imageDown, view;
        Point optical, ros; // a point the camera sees, and where the room has it
    } cases[] = {
        {"at 2.5 m, looking down", Vec4::point(0, 2.5f, 0), Vec4::direction(1, 0, 0), Vec4::direction(0, 0, 1),
         Vec4::direction(0, -1, 0), {0.1, 0.2, 2.5}, {0.1, -0.2, 0.0}},
        {"on a wall 2 m up, looking along the room's z", Vec4::point(1, 2, -3), Vec4::direction(-1, 0, 0),
         Vec4::direction(0, -1, 0), Vec4::direction(0, 0, 1), {0.5, -0.25, 2}, {0.5, 1, 2.25}},
        {"at 3 m, 45 degrees down toward the room's -x", Vec4::point(2, 3, 0), Vec4::direction(0, 0, -1),
         Vec4::direction(d, -d, 0), Vec4::direction(-d, -d, 0), {1, 0, std::sqrt(2.0)}, {1, 1, 2}},
    };
    for (const auto& c : cases) {
        const Mat4 T_room_camera = Mat4::fromAxes(c.imageRight * -1.0f, c.imageDown * -1.0f, c.view, c.position);
        const StaticTransform transform = tavorin::cameraTransform({tavorin::kRoomFrame, "cam"}, T_room_camera);
        EXPECT_EQ("room", transform.parent);
        expectInParent(transform, {0, 0, 0}, {c.position.x, -c.position.z, c.position.y}, c.name);
        expectInParent(transform, c.optical, c.ros, c.name);
    }
}

// Before a room registration camera 0 stands at the identity: the others hang from the frame its
// images carry, and it has no transform itself. Each child is the frame its images carry.
TEST(NetworkTf, BeforeARoomRegistrationCamera0IsTheParent)
{
    std::vector<std::shared_ptr<DepthCameraData>> cameras;
    for (const char* frameId : {"pc_a/cam0_depth", "cam1_depth_camera_link"}) {
        cameras.push_back(std::make_shared<DepthCameraData>());
        cameras.back()->sourceName = "ns/cam";
        cameras.back()->frameId = frameId;
    }
    cameras[1]->modelMatrix = translate(Mat4(), -1.0f, 0.0f, 0.0f); // 1 m to camera 0's image right
    const std::vector<StaticTransform> transforms = tavorin::cameraTransforms(cameras);
    ASSERT_EQ(1u, transforms.size());
    EXPECT_EQ("pc_a/cam0_depth", transforms[0].parent);
    EXPECT_EQ("cam1_depth_camera_link", transforms[0].child);
    expectInParent(transforms[0], {0, 0, 2}, {1, 0, 2}, "camera 1");
}
