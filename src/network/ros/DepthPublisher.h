#pragma once

#include "base/NonCopyable.h"
#include "network/ros/CameraInfoModel.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavorin {

class RosDomain;

// Publishes one camera's depth under "<nameSpace>" as the Azure Kinect ROS 2 driver does:
// "depth/image_raw" (16UC1 millimetres), "depth/camera_info" (its model) and
// "depth/image_raw/compressedDepth" (RVL), every message stamped with the capture time on the
// host's clock and framed "<nameSpace>_depth" (the depth image's optical frame). One thread.
class DepthPublisher : NonCopyable {
public:
    DepthPublisher(const RosDomain& domain, std::string nameSpace, CameraInfoFields model);
    ~DepthPublisher();

    // False (after a line on standard error) when the writers could not be made.
    bool ok() const { return writersReady; }
    const std::string& nameSpace() const { return name; }
    // Whether a reader of its depth (raw or compressed) has been matched.
    bool hasSubscriber() const;
    // One frame of the model's size; false when a write failed.
    bool publish(const std::uint16_t* depthMm, double stampSeconds);

private:
    std::string name;
    CameraInfoFields model;
    std::int32_t imageWriter = 0;
    std::int32_t infoWriter = 0;
    std::int32_t compressedWriter = 0;
    bool writersReady = false;
    std::vector<std::uint8_t> imageBytes; // the frame as the message carries it
};

} // namespace tavorin
