#include "network/ros/TfStaticPublisher.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "base/Console.h"
#include "network/ros/DdsQos.h"
#include "network/ros/RosDomain.h"

#include "tf2_msgs.h"

#include <dds/dds.h>

#include <chrono>
#include <iomanip>
#include <map>
#include <sstream>

namespace tavorin {

namespace {

// A frame name (printable ASCII without spaces) as a YAML string.
std::string quoted(const std::string& name)
{
    std::string text = "\"";
    for (const char c : name) {
        if (c == '"' || c == '\\')
            text += '\\';
        text += c;
    }
    return text + "\"";
}

std::string yamlOf(const std::vector<StaticTransform>& transforms)
{
    std::ostringstream text;
    text << std::setprecision(9);
    text << "# Every camera's pose as published on /tf_static: the parent \"room\" is the room frame with z up\n"
         << "# (REP 103), otherwise the frame of camera 0; the child is the frame_id of the camera's images\n"
         << "# (x right, y down, z along the view).\n"
         << "transforms:\n";
    for (const StaticTransform& transform : transforms) {
        const auto& [x, y, z] = transform.translation;
        const auto& [qx, qy, qz, qw] = transform.rotation;
        text << "  - header: {frame_id: " << quoted(transform.parent) << "}\n"
             << "    child_frame_id: " << quoted(transform.child) << "\n"
             << "    transform:\n"
             << "      translation: {x: " << x << ", y: " << y << ", z: " << z << "}\n"
             << "      rotation: {x: " << qx << ", y: " << qy << ", z: " << qz << ", w: " << qw << "}\n";
    }
    return text.str();
}

// tf keeps one pose per frame: cameras whose images carry the same frame_id (drivers started
// without a prefix of their own) would be drawn at one of their poses.
void reportSharedChildren(const std::vector<StaticTransform>& transforms)
{
    std::map<std::string, int> cameras;
    for (const StaticTransform& transform : transforms)
        ++cameras[transform.child];
    for (const auto& [child, count] : cameras)
        if (count > 1)
            console::err(count, " cameras' images carry the frame_id ", child, "; tf keeps one pose for it: give each ",
                         "camera a frame of its own (the driver's tf_prefix).");
}

} // namespace

TfStaticPublisher::TfStaticPublisher() : domain(std::make_unique<RosDomain>())
{
    if (!domain->ok())
        return;
    const dds_entity_t topic = dds_create_topic(domain->handle(), &tf2_msgs_msg_dds__TFMessage__desc,
                                                ros_topics::kTfStatic, nullptr, nullptr);
    dds_qos_t* qos = tfStaticQos();
    writer = topic < 0 ? topic : dds_create_writer(domain->handle(), topic, qos, nullptr);
    dds_delete_qos(qos);
    if (writer < 0)
        console::err("Cannot publish the calibration on tf_static: ", dds_strretcode(writer));
}

TfStaticPublisher::~TfStaticPublisher() = default;

bool TfStaticPublisher::publish(const std::vector<StaticTransform>& transforms)
{
    reportSharedChildren(transforms);
    const bool filed = replaceKeptFile(kYamlPath, yamlOf(transforms), "calibration for ROS", "Stored tf_static to ");
    if (writer <= 0)
        return false;

    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    std::vector<std::string> names; // the messages borrow their characters
    names.reserve(2 * transforms.size());
    std::vector<geometry_msgs_msg_dds__TransformStamped_> stamped(transforms.size());
    for (std::size_t i = 0; i < transforms.size(); ++i) {
        geometry_msgs_msg_dds__TransformStamped_& t = stamped[i];
        t.header.stamp.sec = static_cast<std::int32_t>(seconds.count());
        t.header.stamp.nanosec =
            static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds).count());
        t.header.frame_id = names.emplace_back(transforms[i].parent).data();
        t.child_frame_id = names.emplace_back(transforms[i].child).data();
        const auto& [x, y, z] = transforms[i].translation;
        const auto& [qx, qy, qz, qw] = transforms[i].rotation;
        t.transform.translation = {x, y, z};
        t.transform.rotation = {qx, qy, qz, qw};
    }
    tf2_msgs_msg_dds__TFMessage_ message{};
    message.transforms._buffer = stamped.data();
    message.transforms._length = message.transforms._maximum = static_cast<std::uint32_t>(stamped.size());
    const dds_return_t written = dds_write(writer, &message);
    if (written < 0)
        console::err("Cannot publish the calibration on tf_static: ", dds_strretcode(written));
    else
        console::out("Published ", transforms.size(), " camera poses on tf_static");
    return filed && written >= 0;
}

} // namespace tavorin
