#pragma once

#include "math/Mat4.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavorin {

class RosDomain;

// The calibration where ROS tools look for it: every camera's pose in the room on "rt/tf_static"
// (tf2_msgs/TFMessage, reliable and transient-local, as tf2's static broadcaster sends it, so that
// a tool that starts later still gets it), parent "room" (this system's room frame: metres, y up),
// child "<camera>_depth" (the camera's depth image frame as ROS has it: x right, y down, z along
// the view), and the same in "config/cameras/ros/tf_static.yaml". One thread; the writer lives as
// long as the object, so that late subscribers are served.
class TfStaticPublisher {
public:
    TfStaticPublisher();
    ~TfStaticPublisher();
    TfStaticPublisher(const TfStaticPublisher&) = delete;
    TfStaticPublisher& operator=(const TfStaticPublisher&) = delete;

    // Per camera its name (made safe as serials are for the frame id) and its model matrix
    // (camera points -> room). Replaces what was published before; false when the message or
    // the file could not be written (said on standard error).
    bool publish(const std::vector<std::pair<std::string, Mat4>>& T_room_camera);

    static constexpr char kYamlPath[] = "config/cameras/ros/tf_static.yaml";

private:
    std::unique_ptr<RosDomain> domain;
    std::int32_t writer = 0;
};

} // namespace tavorin
