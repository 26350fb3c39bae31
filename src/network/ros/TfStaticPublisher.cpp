#include "network/ros/TfStaticPublisher.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "base/Console.h"
#include "network/ros/DdsQos.h"
#include "network/ros/RosDomain.h"

#include "tf2_msgs.h"

#include <dds/dds.h>

#include <Eigen/Geometry>

#include <chrono>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace tavorin {

namespace {

struct Pose {
    std::string child;
    Eigen::Vector3d translation;
    Eigen::Quaterniond rotation;
};

// A camera point (x to the image's left, y up, z along the view) is the optical frame's point with
// x and y negated.
Pose opticalPose(const std::string& name, const Mat4& T_room_camera)
{
    Eigen::Matrix3d R;
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            R(r, c) = T_room_camera.at(c, r);
    const Eigen::Matrix3d flip = Eigen::Vector3d(-1.0, -1.0, 1.0).asDiagonal();
    Pose pose;
    pose.child = pathSafeSerial(name) + "_depth";
    pose.translation = Eigen::Vector3d(T_room_camera.at(3, 0), T_room_camera.at(3, 1), T_room_camera.at(3, 2));
    pose.rotation = Eigen::Quaterniond(R * flip).normalized();
    return pose;
}

std::string yamlOf(const std::vector<Pose>& poses)
{
    std::ostringstream text;
    text << std::setprecision(9);
    text << "# Every camera's pose in the room, as published on /tf_static: parent \"room\" (metres, y up),\n"
         << "# child \"<camera>_depth\", the camera's depth image frame (x right, y down, z along the view).\n"
         << "transforms:\n";
    for (const Pose& pose : poses) {
        text << "  - header: {frame_id: room}\n"
             << "    child_frame_id: " << pose.child << "\n"
             << "    transform:\n"
             << "      translation: {x: " << pose.translation.x() << ", y: " << pose.translation.y()
             << ", z: " << pose.translation.z() << "}\n"
             << "      rotation: {x: " << pose.rotation.x() << ", y: " << pose.rotation.y() << ", z: "
             << pose.rotation.z() << ", w: " << pose.rotation.w() << "}\n";
    }
    return text.str();
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

bool TfStaticPublisher::publish(const std::vector<std::pair<std::string, Mat4>>& T_room_camera)
{
    std::vector<Pose> poses;
    for (const auto& [name, matrix] : T_room_camera)
        poses.push_back(opticalPose(name, matrix));
    const bool filed = replaceKeptFile(kYamlPath, yamlOf(poses), "calibration for ROS", "Stored tf_static to ");
    if (writer <= 0)
        return false;

    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now);
    std::string room = "room";
    std::vector<std::string> children;
    for (const Pose& pose : poses)
        children.push_back(pose.child);
    std::vector<geometry_msgs_msg_dds__TransformStamped_> transforms(poses.size());
    for (std::size_t i = 0; i < poses.size(); ++i) {
        geometry_msgs_msg_dds__TransformStamped_& t = transforms[i];
        t.header.stamp.sec = static_cast<std::int32_t>(seconds.count());
        t.header.stamp.nanosec =
            static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now - seconds).count());
        t.header.frame_id = room.data();
        t.child_frame_id = children[i].data();
        t.transform.translation = {poses[i].translation.x(), poses[i].translation.y(), poses[i].translation.z()};
        t.transform.rotation = {poses[i].rotation.x(), poses[i].rotation.y(), poses[i].rotation.z(), poses[i].rotation.w()};
    }
    tf2_msgs_msg_dds__TFMessage_ message{};
    message.transforms._buffer = transforms.data();
    message.transforms._length = message.transforms._maximum = static_cast<std::uint32_t>(transforms.size());
    const dds_return_t written = dds_write(writer, &message);
    if (written < 0)
        console::err("Cannot publish the calibration on tf_static: ", dds_strretcode(written));
    else
        console::out("Published ", poses.size(), " camera poses on tf_static");
    return filed && written >= 0;
}

} // namespace tavorin
