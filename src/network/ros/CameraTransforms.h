#pragma once

#include "acquisition/config/CameraTfFile.h"
#include "math/Mat4.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace tavorin {

struct DepthCameraData;

// One transform as tf2 takes it: the child frame's pose in the parent frame, the translation in
// metres, the rotation as a unit quaternion (x, y, z, w).
struct StaticTransform {
    std::string parent;
    std::string child;
    std::array<double, 3> translation{};
    std::array<double, 4> rotation{0.0, 0.0, 0.0, 1.0};
};

// This system's room frame (metres; x toward room point 0, y up, z toward room point 2) as the
// room frame that ROS tools expect (REP 103: z up), both right-handed: ROS x is the room's x,
// ROS y the room's -z, ROS z the room's y. Takes room coordinates to ROS room coordinates.
Mat4 T_rosRoom_room();

// The pose of a camera that `T_world_camera` (its model matrix) places, as the transform from
// `frames.parent` to `frames.child`. The child is the camera's optical frame, as its images have
// it (x right, y down, z along the view; the camera coordinates of this system have x to the
// image's left and y up). The parent is the ROS room (T_rosRoom_room) when it is kRoomFrame, else
// the optical frame of the camera whose coordinates `T_world_camera` maps into.
StaticTransform cameraTransform(const CameraTfFrames& frames, const Mat4& T_world_camera);

// Every camera's transform, named as a store names them (tfParentFrame, tfChildFrame); the camera
// whose frame is the parent is left out (tf2 takes no transform of a frame to itself).
std::vector<StaticTransform> cameraTransforms(const std::vector<std::shared_ptr<DepthCameraData>>& cameras);

} // namespace tavorin
