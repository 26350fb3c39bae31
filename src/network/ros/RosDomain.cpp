#include "network/ros/RosDomain.h"

#include "base/Console.h"

#include <dds/dds.h>

#include <cstdlib>

namespace tavorin {

std::uint32_t RosDomain::rosDomainId()
{
    constexpr unsigned long kMaxRosDomain = 232;
    const char* text = std::getenv("ROS_DOMAIN_ID");
    if (!text || !*text)
        return 0;
    char* end = nullptr;
    const unsigned long id = std::strtoul(text, &end, 10);
    if (*end != '\0' || text[0] == '-' || id > kMaxRosDomain) {
        console::err("ROS_DOMAIN_ID=", text, " is no ROS domain (0 to 232); domain 0 is used.");
        return 0;
    }
    return static_cast<std::uint32_t>(id);
}

RosDomain::RosDomain() : domain(rosDomainId())
{
    const dds_entity_t made = dds_create_participant(domain, nullptr, nullptr);
    if (made < 0) {
        console::err("Cannot join ROS domain ", domain, " (DDS): ", dds_strretcode(made));
        return;
    }
    participant = made;
}

RosDomain::~RosDomain()
{
    if (participant > 0)
        dds_delete(participant);
}

namespace ros_topics {

std::string topic(const std::string& nameSpace, const char* suffix)
{
    return "rt/" + nameSpace + suffix;
}

std::string nameSpaceOf(const std::string& topic, const char* suffix)
{
    const std::string prefix = "rt/";
    const std::string tail = suffix;
    if (topic.size() <= prefix.size() + tail.size() || topic.compare(0, prefix.size(), prefix) != 0
        || topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0)
        return {};
    return topic.substr(prefix.size(), topic.size() - prefix.size() - tail.size());
}

} // namespace ros_topics

} // namespace tavorin
