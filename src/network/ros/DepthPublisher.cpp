#include "network/ros/DepthPublisher.h"

#include "base/Console.h"
#include "network/codec/CompressedDepth.h"
#include "network/ros/DdsQos.h"
#include "network/ros/RosDomain.h"

#include "sensor_msgs.h"

#include <dds/dds.h>

#include <cmath>
#include <cstring>

namespace tavorin {

namespace {

constexpr int kHistoryDepth = 30;
constexpr double kNsPerSecond = 1e9;

dds_entity_t writer(const RosDomain& domain, const std::string& topicName, const dds_topic_descriptor_t* type)
{
    const dds_entity_t topic = dds_create_topic(domain.handle(), type, topicName.c_str(), nullptr, nullptr);
    if (topic < 0)
        return topic;
    dds_qos_t* qos = sensorQos(kHistoryDepth);
    const dds_entity_t made = dds_create_writer(domain.handle(), topic, qos, nullptr);
    dds_delete_qos(qos);
    return made;
}

std_msgs_msg_dds__Header_ header(double stampSeconds, char* frameId)
{
    std_msgs_msg_dds__Header_ h{};
    const double seconds = std::floor(stampSeconds);
    h.stamp.sec = static_cast<std::int32_t>(seconds);
    h.stamp.nanosec = static_cast<std::uint32_t>(std::lround((stampSeconds - seconds) * kNsPerSecond) % 1000000000L);
    h.frame_id = frameId;
    return h;
}

} // namespace

DepthPublisher::DepthPublisher(const RosDomain& domain, std::string nameSpace, CameraInfoFields model_)
    : name(std::move(nameSpace)), model(std::move(model_))
{
    if (!domain.ok())
        return;
    // The camera info last: a reader that sees it knows of both image topics already.
    compressedWriter = writer(domain, ros_topics::topic(name, ros_topics::kCompressedDepth),
                              &sensor_msgs_msg_dds__CompressedImage__desc);
    imageWriter = writer(domain, ros_topics::topic(name, ros_topics::kImage), &sensor_msgs_msg_dds__Image__desc);
    infoWriter = writer(domain, ros_topics::topic(name, ros_topics::kCameraInfo), &sensor_msgs_msg_dds__CameraInfo__desc);
    writersReady = imageWriter > 0 && infoWriter > 0 && compressedWriter > 0;
    if (!writersReady)
        console::err("Cannot publish camera ", name, ": the DDS writers could not be made.");
}

DepthPublisher::~DepthPublisher()
{
    for (const dds_entity_t entity : {imageWriter, infoWriter, compressedWriter})
        if (entity > 0)
            dds_delete(entity);
}

bool DepthPublisher::hasSubscriber() const
{
    for (const dds_entity_t writer : {imageWriter, compressedWriter}) {
        dds_publication_matched_status_t matched{};
        if (writer > 0 && dds_get_publication_matched_status(writer, &matched) == DDS_RETCODE_OK && matched.current_count > 0)
            return true;
    }
    return false;
}

bool DepthPublisher::publish(const std::uint16_t* depthMm, double stampSeconds)
{
    if (!writersReady)
        return false;
    std::string frameId = name + "_depth";
    std::string encoding = "16UC1";
    std::string distortion = model.distortionModel;
    const std::size_t pixels = std::size_t(model.width) * model.height;

    sensor_msgs_msg_dds__CameraInfo_ info{};
    info.header = header(stampSeconds, frameId.data());
    info.width = model.width;
    info.height = model.height;
    info.distortion_model = distortion.data();
    std::vector<double> d = model.d;
    info.d._buffer = d.data();
    info.d._length = info.d._maximum = static_cast<std::uint32_t>(d.size());
    std::copy(model.k.begin(), model.k.end(), info.k);
    info.r[0] = info.r[4] = info.r[8] = 1.0;
    const double projection[12] = {model.k[0], 0.0, model.k[2], 0.0, 0.0, model.k[4], model.k[5], 0.0, 0.0, 0.0, 1.0, 0.0};
    std::copy(std::begin(projection), std::end(projection), info.p);

    imageBytes.resize(pixels * sizeof(std::uint16_t));
    std::memcpy(imageBytes.data(), depthMm, imageBytes.size()); // little-endian host, as is_bigendian 0 says
    sensor_msgs_msg_dds__Image_ image{};
    image.header = header(stampSeconds, frameId.data());
    image.width = model.width;
    image.height = model.height;
    image.encoding = encoding.data();
    image.is_bigendian = 0;
    image.step = model.width * static_cast<std::uint32_t>(sizeof(std::uint16_t));
    image.data._buffer = imageBytes.data();
    image.data._length = image.data._maximum = static_cast<std::uint32_t>(imageBytes.size());

    std::vector<std::uint8_t> rvl = encodeCompressedDepthRvl(depthMm, model.width, model.height);
    std::string format = kCompressedDepthRvlFormat;
    sensor_msgs_msg_dds__CompressedImage_ compressed{};
    compressed.header = header(stampSeconds, frameId.data());
    compressed.format = format.data();
    compressed.data._buffer = rvl.data();
    compressed.data._length = compressed.data._maximum = static_cast<std::uint32_t>(rvl.size());

    return dds_write(infoWriter, &info) >= 0 && dds_write(imageWriter, &image) >= 0
        && dds_write(compressedWriter, &compressed) >= 0;
}

} // namespace tavorin
