#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavorin {

struct DepthCameraData;

// The ROS frames that a stored camera's transform joins, kept beside its model-matrix file as
// "<stem>.tf.json" ({"parent": ..., "child": ...}), so that tavorin-tf can publish the stored
// calibration without the window. The child is the frame_id the camera's images carry. The parent
// is kRoomFrame when the matrix places the camera in a room registration's frame (published with
// z up); before a room registration the matrices place the cameras in camera 0's coordinates, and
// the parent is camera 0's own frame.
struct CameraTfFrames {
    std::string parent;
    std::string child;
};

constexpr char kRoomFrame[] = "room";

// Whether tf2 and RViz take `name` as a frame: 1 to 256 printable ASCII characters, no spaces.
bool isFrameName(const std::string& name);

// "<stem>.tf.json" for "<stem>.json"; empty for an empty path.
std::string cameraTfPath(const std::string& modelMatrixPath);

// The frames in the file, or nothing: a missing file silently, any other reason (not JSON, a name
// missing or not isFrameName) with "Ignoring tf frames <path>: <reason>" on standard error.
std::optional<CameraTfFrames> loadCameraTfFrames(const std::string& path);

// Writes the file as configuration files are written (atomically, the replaced content kept as a
// dated copy) and prints "Stored tf frames to <path>"; false, with the reason on standard error,
// when it cannot or when a name is one the reader would refuse.
bool writeCameraTfFrames(const std::string& path, const CameraTfFrames& frames);

// The frame a camera's transform names as its child: the frame_id its images carry, else
// "<short name>_depth" (the serial of a device or recording, made safe as serials are).
std::string tfChildFrame(const DepthCameraData& camera);

// The parent of the transforms of these cameras: kRoomFrame once camera 0 (the first record)
// stands off the identity (a room registration moved it there), else camera 0's child frame.
std::string tfParentFrame(const std::vector<std::shared_ptr<DepthCameraData>>& cameras);

} // namespace tavorin
