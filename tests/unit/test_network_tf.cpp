// The cameras' transforms as ROS tools take them: a point seen by a camera lands, through the
// published translation and quaternion, where the room has it (z up), or before a room
// registration where camera 0 sees it; the child of each transform is the frame its images carry.
#include "network/ros/CameraTransforms.h"

#include "scene/DepthCameraData.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

using tavorin::DepthCameraData, tavorin::Mat4, tavorin::StaticTransform, tavorin::translate, tavorin::Vec4;

namespace {

using Point = std::array<double, 3>;

constexpr double kToleranceM = 1e-5; // the model matrices are floats

// Where tf2 puts a child frame's point in the parent frame: the quaternion's rotation
// (v + 2w (q x v) + 2 q x (q x v)), then the translation.
Point inParent(const StaticTransform& transform, const Point& p)
{
    const auto& [x, y, z, w] = transform.rotation;
    const Point qxv = {y * p[2] - z * p[1], z * p[0] - x * p[2], x * p[1] - y * p[0]};
    const Point qxqxv = {y * qxv[2] - z * qxv[1], z * qxv[0] - x * qxv[2], x * qxv[1] - y * qxv[0]};
    Point out;
    for (int i = 0; i < 3; ++i)
        out[i] = p[i] + 2.0 * w * qxv[i] + 2.0 * qxqxv[i] + transform.translation[i];
    return out;
}

// A camera's model matrix from where its image points in the frame it is placed in: its camera
// coordinates have x to the image's left, y up (against the image's rows) and z along the view.
Mat4 modelMatrix(const Vec4& position, const Vec4& imageRight, const Vec4& imageDown, const Vec4& view)
{
    return Mat4::fromAxes(imageRight * -1.0f, imageDown * -1.0f, view, position);
}

std::shared_ptr<DepthCameraData> camera(const std::string& frameId, const Mat4& T_world_camera)
{
    auto record = std::make_shared<DepthCameraData>();
    record->sourceName = "ns/" + frameId;
    record->frameId = frameId;
    record->modelMatrix = T_world_camera;
    return record;
}

void expectNear(const Point& expected, const Point& actual, const std::string& what)
{
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(expected[i], actual[i], kToleranceM) << what << ", axis " << i;
}

} // namespace

// Room coordinates (x toward room point 0, y up, z toward room point 2) of each camera and of
// points in its image; the expected coordinates in the published room (x, -z, y) are worked out
// by hand from the scene.
TEST(NetworkTf, PointsLandWhereTheRoomHasThemWithZUp)
{
    const float diagonal = std::sqrt(0.5f);
    struct Case {
        const char* name;
        Vec4 position, imageRight, imageDown, view;
        std::vector<std::pair<Point, Point>> opticalToRos;
    };
    const Case cases[] = {
        {"looking straight down from 2.5 m", Vec4::point(0, 2.5f, 0), Vec4::direction(1, 0, 0),
         Vec4::direction(0, 0, 1), Vec4::direction(0, -1, 0),
         {{{0, 0, 0}, {0, 0, 2.5}}, {{0.1, 0.2, 2.5}, {0.1, -0.2, 0.0}}}},
        {"on a wall 2 m up, looking along the room's z", Vec4::point(1, 2, -3), Vec4::direction(-1, 0, 0),
         Vec4::direction(0, -1, 0), Vec4::direction(0, 0, 1),
         {{{0, 0, 0}, {1, 3, 2}}, {{0.5, -0.25, 2}, {0.5, 1, 2.25}}}},
        {"3 m up, tilted 45 degrees down toward the room's -x", Vec4::point(2, 3, 0), Vec4::direction(0, 0, -1),
         Vec4::direction(diagonal, -diagonal, 0), Vec4::direction(-diagonal, -diagonal, 0),
         {{{0, 0, 2 * std::sqrt(2.0)}, {0, 0, 1}}, {{1, 0, std::sqrt(2.0)}, {1, 1, 2}}}},
    };
    for (const Case& c : cases) {
        const StaticTransform transform = tavorin::cameraTransform(
            {tavorin::kRoomFrame, "cam_depth"}, modelMatrix(c.position, c.imageRight, c.imageDown, c.view));
        EXPECT_EQ("room", transform.parent);
        const auto& [x, y, z, w] = transform.rotation;
        EXPECT_NEAR(1.0, x * x + y * y + z * z + w * w, 1e-12) << c.name;
        for (const auto& [optical, ros] : c.opticalToRos)
            expectNear(ros, inParent(transform, optical), c.name);
    }
}

// Before a room registration camera 0 stays at the identity: the others hang from the frame its
// images carry, camera 0 itself is not published, and every child is its images' frame_id.
TEST(NetworkTf, BeforeARoomRegistrationCamera0IsTheParent)
{
    const std::vector<std::shared_ptr<DepthCameraData>> cameras = {
        camera("pc_a/cam0_depth", Mat4::identity()),
        // 1 m to camera 0's image right, looking the same way.
        camera("cam1_depth_camera_link", translate(Mat4::identity(), -1.0f, 0.0f, 0.0f)),
        // 2 m in front of camera 0, looking to camera 0's right.
        camera("cam2", modelMatrix(Vec4::point(0, 0, 2), Vec4::direction(0, 0, -1), Vec4::direction(0, -1, 0),
                                   Vec4::direction(-1, 0, 0))),
    };
    const std::vector<StaticTransform> transforms = tavorin::cameraTransforms(cameras);
    ASSERT_EQ(2u, transforms.size());
    for (const StaticTransform& transform : transforms)
        EXPECT_EQ("pc_a/cam0_depth", transform.parent);
    EXPECT_EQ("cam1_depth_camera_link", transforms[0].child);
    EXPECT_EQ("cam2", transforms[1].child);
    expectNear({1, 0, 2}, inParent(transforms[0], {0, 0, 2}), "camera 1");
    expectNear({1, 0, 1.5}, inParent(transforms[1], {0.5, 0, 1}), "camera 2");

    cameras[0]->modelMatrix = translate(Mat4::identity(), 0.0f, 2.0f, 0.0f); // a room registration
    const std::vector<StaticTransform> registered = tavorin::cameraTransforms(cameras);
    ASSERT_EQ(3u, registered.size());
    EXPECT_EQ("room", registered[0].parent);
    EXPECT_EQ("pc_a/cam0_depth", registered[0].child);
}
