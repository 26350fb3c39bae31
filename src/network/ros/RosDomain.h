#pragma once

#include "base/NonCopyable.h"

#include <cstdint>
#include <string>

namespace tavorin {

// One DDS participant in the ROS 2 domain that ROS_DOMAIN_ID names (0 when unset), speaking ROS
// 2's conventions: topics "rt/<name>", type names "<package>::msg::dds_::<Message>_", keyless
// types in XCDR1. Cyclone DDS takes its configuration from CYCLONEDDS_URI as usual (the tests bind
// it to the loopback interface). Any thread may use the handle; one owner.
class RosDomain : NonCopyable {
public:
    RosDomain();
    ~RosDomain();

    // False (after a line on standard error) when the participant could not be made.
    bool ok() const { return participant > 0; }
    std::int32_t handle() const { return participant; } // dds_entity_t
    std::uint32_t domainId() const { return domain; }

    // ROS_DOMAIN_ID, 0 when unset; a value that is no domain (0 to 232) is reported and 0 taken.
    static std::uint32_t rosDomainId();

private:
    std::uint32_t domain = 0;
    std::int32_t participant = 0;
};

// "rt/<namespace>/depth/image_raw" and its kin, and the namespace of such a topic.
namespace ros_topics {
constexpr char kImage[] = "/depth/image_raw";
constexpr char kCameraInfo[] = "/depth/camera_info";
constexpr char kCompressedDepth[] = "/depth/image_raw/compressedDepth";
constexpr char kTfStatic[] = "rt/tf_static";

std::string topic(const std::string& nameSpace, const char* suffix);
// The namespace of a topic that ends in `suffix`, or empty.
std::string nameSpaceOf(const std::string& topic, const char* suffix);
} // namespace ros_topics

} // namespace tavorin
