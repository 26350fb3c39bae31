#pragma once

#include "sample_scene/DepthError.h"
#include "sample_scene/SampleRoom.h"

#include <Eigen/Core>
#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

// Where the cameras of the sample scene hang around its work centre and how its plate moves there
// (the scene laid out along a room is SampleCameraRow's). Cameras 0 to 2 are those of the default
// sample recordings; cameras 3 to 7 stand further around the room, all aimed at the plate's path.
// Every layout's camera i carries the serial and calibration blob of camera i here. Room metres,
// y up.
namespace sample_scene {

constexpr int kMaxCameras = 8;

// The pose of a camera's depth frame as the SDK defines it (x right, y down, z along the view).
struct CameraPose {
    Eigen::Matrix3d R_room_sdk;
    Eigen::Vector3d position;
};

std::string cameraSerial(int index);
// Whether the camera's recorded calibration blob ends with a NUL (recordings come both ways).
bool blobWithNul(int index);
CameraPose cameraPose(int index);
// A camera at `position` aimed at `target`, its x axis level.
CameraPose aimedPose(const Eigen::Vector3d& position, const Eigen::Vector3d& target);
// The camera's model matrix: points of the calibrated convention (-x d, -y d, d) of its depth frame
// to the room.
Eigen::Matrix4d modelMatrix(const CameraPose& pose);

// The plate's path, repeating every `period` seconds: it drifts through the shared view at chest
// height, sways about the vertical, tilts toward the cameras and turns within its own plane by 25
// degrees per second.
PlatePose plateAt(double seconds, double period);

// A camera of a sample scene as its ground truth lists it: the serial and calibration blob of the
// rig's camera `rigIndex`, where the camera hangs, and what its depth sensor adds to every range.
struct SceneCamera {
    int rigIndex = 0;
    CameraPose pose;
    DepthError depthError;
};

// The ground truth of `cameras` (their recordings named <folder>/kinect_<serial>.h5), the markers
// and the plate, as ground_truth.json holds it; without a trajectory. `depthArtefacts`: whether
// the depth images carry the sensor's random artefacts (DepthArtefacts).
nlohmann::json groundTruth(const std::vector<SceneCamera>& cameras, const std::string& folder, bool depthArtefacts);
// One trajectory entry: the plate's pose and holes at `seconds` (at `timestamp` on the recordings'
// clock).
nlohmann::json trajectoryEntry(int frame, double timestamp, const PlatePose& pose);

} // namespace sample_scene
