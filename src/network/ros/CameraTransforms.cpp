#include "network/ros/CameraTransforms.h"

#include "scene/DepthCameraData.h"

#include <Eigen/Geometry>

namespace tavorin {

namespace {

Eigen::Matrix4d toEigen(const Mat4& matrix)
{
    Eigen::Matrix4d result;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            result(r, c) = matrix.at(c, r);
    return result;
}

// A camera point of this system (x to the image's left, y up) is the optical frame's point with x
// and y negated; the matrix is its own inverse.
Eigen::Matrix4d T_camera_optical()
{
    return Eigen::Vector4d(-1.0, -1.0, 1.0, 1.0).asDiagonal();
}

} // namespace

Mat4 T_rosRoom_room()
{
    return Mat4::fromAxes(Vec4::direction(1.0f, 0.0f, 0.0f), Vec4::direction(0.0f, 0.0f, 1.0f),
                          Vec4::direction(0.0f, -1.0f, 0.0f), Vec4::point(0.0f, 0.0f, 0.0f));
}

StaticTransform cameraTransform(const CameraTfFrames& frames, const Mat4& T_world_camera)
{
    const Eigen::Matrix4d T_parent_world =
        frames.parent == kRoomFrame ? toEigen(T_rosRoom_room()) : Eigen::Matrix4d(T_camera_optical());
    const Eigen::Matrix4d T_parent_child = T_parent_world * toEigen(T_world_camera) * T_camera_optical();
    const Eigen::Quaterniond rotation(Eigen::Matrix3d(T_parent_child.topLeftCorner<3, 3>()));
    const Eigen::Quaterniond unit = rotation.normalized();
    StaticTransform transform;
    transform.parent = frames.parent;
    transform.child = frames.child;
    transform.translation = {T_parent_child(0, 3), T_parent_child(1, 3), T_parent_child(2, 3)};
    transform.rotation = {unit.x(), unit.y(), unit.z(), unit.w()};
    return transform;
}

std::vector<StaticTransform> cameraTransforms(const std::vector<std::shared_ptr<DepthCameraData>>& cameras)
{
    const std::string parent = tfParentFrame(cameras);
    std::vector<StaticTransform> transforms;
    for (const std::shared_ptr<DepthCameraData>& camera : cameras) {
        const std::string child = tfChildFrame(*camera);
        if (child != parent)
            transforms.push_back(cameraTransform({parent, child}, camera->modelMatrix));
    }
    return transforms;
}

} // namespace tavorin
