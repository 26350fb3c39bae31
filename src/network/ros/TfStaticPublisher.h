#pragma once

#include "base/NonCopyable.h"
#include "network/ros/CameraTransforms.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tavorin {

class RosDomain;

// The calibration where ROS tools look for it: the cameras' transforms (CameraTransforms) on
// "rt/tf_static" (tf2_msgs/TFMessage, reliable and transient-local, as tf2's static broadcaster
// sends it, so that a tool that starts later still gets it), and the same in
// "config/cameras/ros/tf_static.yaml". One thread; the writer lives as long as the object, so
// that late subscribers are served: its data goes with it.
class TfStaticPublisher : NonCopyable {
public:
    TfStaticPublisher();
    ~TfStaticPublisher();

    // False (after a line on standard error) when the writer could not be made.
    bool ok() const { return writer > 0; }
    // Replaces what was published before, every transform stamped now; false when the message or
    // the file could not be written (said on standard error). Cameras that share a child frame are
    // named on standard error, as tf can hold only one of their poses.
    bool publish(const std::vector<StaticTransform>& transforms);

    static constexpr char kYamlPath[] = "config/cameras/ros/tf_static.yaml";

private:
    std::unique_ptr<RosDomain> domain;
    std::int32_t writer = 0;
};

} // namespace tavorin
