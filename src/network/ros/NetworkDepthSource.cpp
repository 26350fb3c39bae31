#include "network/ros/NetworkDepthSource.h"

#include "acquisition/config/CameraTfFile.h"
#include "base/Console.h"
#include "network/codec/CompressedDepth.h"
#include "network/ros/DdsQos.h"
#include "network/ros/DepthImageMessage.h"
#include "network/ros/NetworkCamera.h"
#include "network/ros/RosDomain.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include "sensor_msgs.h"

#include <dds/dds.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <tuple>

namespace tavorin {

namespace {

constexpr int kBatch = 16;            // samples taken at once
constexpr int kHistoryDepth = 30;     // a second of frames at 30 fps waits in a reader
constexpr double kQuietSeconds = 3.0; // a camera without a frame this long is gone
constexpr double kMaxLagSeconds = 0.9; // within the cameras' recent frames: one further apart shows its own newest
constexpr std::uint32_t kMaxImageSide = 4096;
constexpr dds_duration_t kWaitTimeout = DDS_MSECS(250);

enum class Topic { Image, CameraInfo, CompressedDepth };

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double stampSeconds(const builtin_interfaces_msg_dds__Time_& stamp)
{
    return static_cast<double>(stamp.sec) + static_cast<double>(stamp.nanosec) * 1e-9;
}

const char* text(const char* value)
{
    return value ? value : "";
}

// Takes every sample waiting in `reader`, batch by batch, and hands the valid ones to `use`.
template <typename Sample, typename Use>
void takeAll(dds_entity_t reader, Use use)
{
    void* samples[kBatch] = {};
    dds_sample_info_t infos[kBatch];
    for (;;) {
        const dds_return_t count = dds_take(reader, samples, infos, kBatch, kBatch);
        if (count <= 0)
            return;
        for (dds_return_t i = 0; i < count; ++i)
            use(*static_cast<const Sample*>(samples[i]), infos[i]);
        dds_return_loan(reader, samples, count);
    }
}

} // namespace

struct NetworkDepthSource::Impl {
    // One namespace's readers and camera (receive thread).
    struct Stream {
        std::shared_ptr<NetworkCamera> camera;
        dds_entity_t infoReader = 0;
        dds_entity_t depthReader = 0;
        bool compressed = false;
        bool quiet = false; // announced gone for want of frames; its writers are still there
    };
    // The live writers of one namespace's topics, by the instance handles of their publications.
    struct Offers {
        std::set<dds_instance_handle_t> image, info, compressed;
        std::set<dds_instance_handle_t> bestEffort; // those of them that do not resend
    };

    explicit Impl(FrameListener listener_) : listener(std::move(listener_)) {}

    void start();
    void stop();
    void run();
    void takePublications();
    void reconcile();
    void openStream(const std::string& nameSpace, bool compressed);
    void openDepthReader(const std::string& nameSpace, Stream& stream, bool compressed);
    void closeStream(const std::string& nameSpace, const char* why);
    void takeFrames(const std::string& nameSpace, Stream& stream);
    void takeDepth(const std::string& nameSpace, Stream& stream, const std::uint16_t* depthMm, std::uint32_t width,
                   std::uint32_t height, const std_msgs_msg_dds__Header_& header);
    void noteQuietCameras();
    void showOneInstant();
    void publish(const std::shared_ptr<NetworkCamera>& camera, bool streaming);
    dds_entity_t reader(const std::string& nameSpace, const char* suffix, const dds_topic_descriptor_t* type);
    bool reliable(const std::string& nameSpace) const;

    FrameListener listener;
    RosDomain domain;
    dds_entity_t publications = 0;
    dds_entity_t waitset = 0;
    dds_entity_t stopGuard = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;

    // Receive thread only.
    std::map<dds_instance_handle_t, std::pair<std::string, Topic>> endpoints;
    std::map<std::string, Offers> offers;
    std::map<std::string, Stream> streams;
    std::vector<std::uint16_t> depthScratch;
    DecodedDepth decoded;

    // The cameras that stream now: the receive thread adds and removes them, the render thread
    // copies the list in process().
    mutable std::mutex camerasMutex;
    std::vector<std::shared_ptr<NetworkCamera>> cameras; // guarded by camerasMutex

    // Render thread: the cameras of the records given last (their buffers stay while a record
    // may point into them), and their held frames.
    std::vector<std::shared_ptr<NetworkCamera>> recorded;
    std::vector<std::unique_lock<std::mutex>> held;
};

void NetworkDepthSource::Impl::start()
{
    if (!domain.ok())
        return;
    publications = dds_create_reader(domain.handle(), DDS_BUILTIN_TOPIC_DCPSPUBLICATION, nullptr, nullptr);
    waitset = dds_create_waitset(domain.handle());
    stopGuard = dds_create_guardcondition(domain.handle());
    if (publications < 0 || waitset < 0 || stopGuard < 0) {
        console::err("Cannot listen for network cameras: the DDS discovery is not available.");
        return;
    }
    dds_set_status_mask(publications, DDS_DATA_AVAILABLE_STATUS);
    dds_waitset_attach(waitset, publications, publications);
    dds_waitset_attach(waitset, stopGuard, stopGuard);
    console::out("Listening for network cameras (ROS 2 domain ", domain.domainId(), ")");
    thread = std::thread(&Impl::run, this);
}

void NetworkDepthSource::Impl::stop()
{
    stopping.store(true);
    if (stopGuard > 0)
        dds_set_guardcondition(stopGuard, true);
    if (thread.joinable())
        thread.join();
}

// Receive thread: every wake-up takes whatever arrived, discovery first.
void NetworkDepthSource::Impl::run()
{
    constexpr std::size_t kMaxTriggers = 64;
    dds_attach_t triggered[kMaxTriggers];
    while (!stopping.load()) {
        dds_waitset_wait(waitset, triggered, kMaxTriggers, kWaitTimeout);
        if (stopping.load())
            break;
        takePublications();
        for (auto& [nameSpace, stream] : streams)
            takeFrames(nameSpace, stream);
        noteQuietCameras();
        showOneInstant();
    }
}

// The publications of the domain: which namespaces offer a depth image and a camera info.
void NetworkDepthSource::Impl::takePublications()
{
    bool changed = false;
    takeAll<dds_builtintopic_endpoint_t>(publications, [&](const dds_builtintopic_endpoint_t& endpoint,
                                                           const dds_sample_info_t& info) {
        if (info.instance_state != DDS_IST_ALIVE) {
            const auto known = endpoints.find(info.instance_handle);
            if (known == endpoints.end())
                return;
            Offers& offer = offers[known->second.first];
            offer.image.erase(info.instance_handle);
            offer.info.erase(info.instance_handle);
            offer.compressed.erase(info.instance_handle);
            offer.bestEffort.erase(info.instance_handle);
            endpoints.erase(known);
            changed = true;
            return;
        }
        if (!info.valid_data || !endpoint.topic_name)
            return;
        const std::string topic = endpoint.topic_name;
        const std::pair<const char*, Topic> kinds[] = {{ros_topics::kImage, Topic::Image},
                                                       {ros_topics::kCameraInfo, Topic::CameraInfo},
                                                       {ros_topics::kCompressedDepth, Topic::CompressedDepth}};
        for (const auto& [suffix, kind] : kinds) {
            const std::string nameSpace = ros_topics::nameSpaceOf(topic, suffix);
            if (nameSpace.empty())
                continue;
            endpoints[info.instance_handle] = {nameSpace, kind};
            Offers& offer = offers[nameSpace];
            (kind == Topic::Image ? offer.image : kind == Topic::CameraInfo ? offer.info : offer.compressed)
                .insert(info.instance_handle);
            dds_reliability_kind_t reliability = DDS_RELIABILITY_RELIABLE;
            dds_duration_t blocking = 0;
            if (endpoint.qos && dds_qget_reliability(endpoint.qos, &reliability, &blocking)
                && reliability == DDS_RELIABILITY_BEST_EFFORT)
                offer.bestEffort.insert(info.instance_handle);
            changed = true;
        }
    });
    if (changed)
        reconcile();
}

// A namespace with a camera info and a depth image (raw or compressed) is a camera; the compressed
// feed is taken when it is offered.
void NetworkDepthSource::Impl::reconcile()
{
    for (const auto& [nameSpace, offer] : offers) {
        const bool offered = !offer.info.empty() && (!offer.image.empty() || !offer.compressed.empty());
        const bool compressed = !offer.compressed.empty();
        const auto stream = streams.find(nameSpace);
        if (offered && stream == streams.end())
            openStream(nameSpace, compressed);
        else if (offered && stream->second.compressed != compressed) {
            openDepthReader(nameSpace, stream->second, compressed);
            console::out("Network camera ", nameSpace, " now streams its ", compressed ? "compressedDepth" : "image_raw");
        }
        else if (!offered && stream != streams.end())
            closeStream(nameSpace, "its publisher is gone");
    }
}

dds_entity_t NetworkDepthSource::Impl::reader(const std::string& nameSpace, const char* suffix,
                                              const dds_topic_descriptor_t* type)
{
    const dds_entity_t topic =
        dds_create_topic(domain.handle(), type, ros_topics::topic(nameSpace, suffix).c_str(), nullptr, nullptr);
    if (topic < 0)
        return topic;
    dds_qos_t* qos = sensorQos(kHistoryDepth);
    // A reliable reader does not match a best-effort writer; a best-effort one matches both.
    if (!reliable(nameSpace))
        dds_qset_reliability(qos, DDS_RELIABILITY_BEST_EFFORT, 0);
    const dds_entity_t made = dds_create_reader(domain.handle(), topic, qos, nullptr);
    dds_delete_qos(qos);
    if (made > 0) {
        dds_set_status_mask(made, DDS_DATA_AVAILABLE_STATUS);
        dds_waitset_attach(waitset, made, made);
    }
    return made;
}

// Whether every writer of the namespace resends what is lost (the driver's default).
bool NetworkDepthSource::Impl::reliable(const std::string& nameSpace) const
{
    const auto offer = offers.find(nameSpace);
    return offer == offers.end() || offer->second.bestEffort.empty();
}

void NetworkDepthSource::Impl::openStream(const std::string& nameSpace, bool compressed)
{
    Stream stream;
    stream.camera = std::make_shared<NetworkCamera>(nameSpace);
    stream.infoReader = reader(nameSpace, ros_topics::kCameraInfo, &sensor_msgs_msg_dds__CameraInfo__desc);
    if (stream.infoReader < 0) {
        console::err("Cannot read network camera ", nameSpace, ": ", dds_strretcode(stream.infoReader));
        return;
    }
    openDepthReader(nameSpace, stream, compressed);
    streams[nameSpace] = std::move(stream);
    console::out("Network camera ", nameSpace, " appeared (", compressed ? "compressedDepth" : "image_raw",
                 reliable(nameSpace) ? ")" : ", best-effort: frames lost on the way are not sent again)");
    publish(streams[nameSpace].camera, true);
}

void NetworkDepthSource::Impl::openDepthReader(const std::string& nameSpace, Stream& stream, bool compressed)
{
    if (stream.depthReader > 0) {
        dds_waitset_detach(waitset, stream.depthReader);
        dds_delete(stream.depthReader);
    }
    stream.compressed = compressed;
    stream.depthReader = compressed ? reader(nameSpace, ros_topics::kCompressedDepth,
                                             &sensor_msgs_msg_dds__CompressedImage__desc)
                                    : reader(nameSpace, ros_topics::kImage, &sensor_msgs_msg_dds__Image__desc);
}

void NetworkDepthSource::Impl::closeStream(const std::string& nameSpace, const char* why)
{
    const auto stream = streams.find(nameSpace);
    if (stream == streams.end())
        return;
    for (const dds_entity_t reader : {stream->second.infoReader, stream->second.depthReader})
        if (reader > 0) {
            dds_waitset_detach(waitset, reader);
            dds_delete(reader);
        }
    if (!stream->second.quiet)
        console::out("Network camera ", nameSpace, " is gone: ", why);
    publish(stream->second.camera, false);
    streams.erase(stream);
}

void NetworkDepthSource::Impl::publish(const std::shared_ptr<NetworkCamera>& camera, bool streaming)
{
    std::lock_guard<std::mutex> lock(camerasMutex);
    const auto at = std::find(cameras.begin(), cameras.end(), camera);
    if (streaming && at == cameras.end())
        cameras.push_back(camera);
    else if (!streaming && at != cameras.end())
        cameras.erase(at);
}

void NetworkDepthSource::Impl::takeFrames(const std::string& nameSpace, Stream& stream)
{
    const auto refuse = [&](const char* topic, const std::string& fault) {
        console::errRepeating("Refusing a message of network camera ", nameSpace, " (", topic, "): ", fault);
    };
    takeAll<sensor_msgs_msg_dds__CameraInfo_>(
        stream.infoReader, [&](const sensor_msgs_msg_dds__CameraInfo_& message, const dds_sample_info_t& info) {
            if (!info.valid_data)
                return;
            CameraInfoFields fields;
            fields.width = message.width;
            fields.height = message.height;
            fields.distortionModel = text(message.distortion_model);
            fields.d.assign(message.d._buffer, message.d._buffer + message.d._length);
            std::copy(std::begin(message.k), std::end(message.k), fields.k.begin());
            const std::string fault = stream.camera->takeCameraInfo(fields);
            if (!fault.empty())
                refuse("depth/camera_info", fault);
        });
    if (stream.compressed) {
        takeAll<sensor_msgs_msg_dds__CompressedImage_>(
            stream.depthReader,
            [&](const sensor_msgs_msg_dds__CompressedImage_& message, const dds_sample_info_t& info) {
                if (!info.valid_data)
                    return;
                const std::string fault = decodeCompressedDepth(text(message.format), message.data._buffer,
                                                                message.data._length, kMaxImageSide, decoded);
                if (!fault.empty())
                    return refuse("depth/image_raw/compressedDepth", fault);
                takeDepth(nameSpace, stream, decoded.depthMm.data(), decoded.width, decoded.height, message.header);
            });
        return;
    }
    takeAll<sensor_msgs_msg_dds__Image_>(
        stream.depthReader, [&](const sensor_msgs_msg_dds__Image_& message, const dds_sample_info_t& info) {
            if (!info.valid_data)
                return;
            const std::string encoding = text(message.encoding);
            const std::string fault = depthImageFault(message.width, message.height, encoding, message.is_bigendian,
                                                      message.step, message.data._length, kMaxImageSide);
            if (!fault.empty())
                return refuse("depth/image_raw", fault);
            depthScratch.resize(std::size_t(message.width) * message.height);
            depthImageToMm(message.data._buffer, message.width, message.height, message.step, encoding,
                           message.is_bigendian, depthScratch.data());
            takeDepth(nameSpace, stream, depthScratch.data(), message.width, message.height, message.header);
        });
}

void NetworkDepthSource::Impl::takeDepth(const std::string& nameSpace, Stream& stream, const std::uint16_t* depthMm,
                                         std::uint32_t width, std::uint32_t height,
                                         const std_msgs_msg_dds__Header_& header)
{
    if (!stream.camera->hasModel())
        return; // its first camera info is on the way
    const double stamp = stampSeconds(header.stamp);
    std::string frameId = text(header.frame_id);
    if (!frameId.empty() && !isFrameName(frameId)) {
        console::errRepeating("Network camera ", nameSpace, ": the frame_id of its images is no frame name tf "
                              "takes (1 to 256 printable ASCII characters without spaces); its transform is named "
                              "after its namespace");
        frameId.clear();
    }
    const std::string fault = stream.camera->takeDepth(depthMm, width, height, stamp, frameId);
    if (!fault.empty()) {
        console::errRepeating("Refusing a frame of network camera ", nameSpace, ": ", fault);
        return;
    }
    if (stream.quiet) {
        stream.quiet = false;
        console::out("Network camera ", nameSpace, " streams again");
        publish(stream.camera, true);
    }
    if (listener)
        listener(nameSpace, stream.camera->model(), depthMm, stamp, frameId);
}

// A camera whose frames stopped (its computer lost, its node stopped) is gone from the view until
// they come again, though its writers have not been declared lost yet.
void NetworkDepthSource::Impl::noteQuietCameras()
{
    const double now = steadySeconds();
    for (auto& [nameSpace, stream] : streams) {
        if (stream.quiet || stream.camera->framesTaken() == 0
            || now - stream.camera->lastFrameSteadySeconds() < kQuietSeconds)
            continue;
        stream.quiet = true;
        console::out("Network camera ", nameSpace, " is gone: no frame for 3 s");
        publish(stream.camera, false);
    }
}

// Cameras on different computers deliver their frames of one instant a moment apart (their nodes
// started apart, their networks differ). The cameras whose newest frames lie within 0.9 s of one
// another (the most of them, the later group on a tie) each show their frame of the
// newest instant that all of them have reached, so that the clouds in the view and the frames a
// calibration cycle takes belong together. A camera outside that group (its clock is set apart,
// its stream stalls) neither waits for them nor holds them back: it shows its own newest frame.
void NetworkDepthSource::Impl::showOneInstant()
{
    std::vector<std::pair<double, NetworkCamera*>> newest;
    for (auto& [nameSpace, stream] : streams) {
        const std::optional<double> stamp = stream.camera->newestStamp();
        if (!stream.quiet && stamp)
            newest.emplace_back(*stamp, stream.camera.get());
    }
    std::sort(newest.begin(), newest.end());
    std::size_t first = 0, last = 0; // the group: newest[first..last]
    for (std::size_t begin = 0, end = 0; begin < newest.size(); ++begin) {
        while (end + 1 < newest.size() && newest[end + 1].first - newest[begin].first <= kMaxLagSeconds)
            ++end;
        if (end - begin >= last - first)
            std::tie(first, last) = std::tie(begin, end);
    }
    for (std::size_t k = 0; k < newest.size(); ++k)
        newest[k].second->showAt(k >= first && k <= last ? newest[first].first : newest[k].first);
}

NetworkDepthSource::NetworkDepthSource(FrameListener listener) : impl(std::make_unique<Impl>(std::move(listener)))
{
    impl->start();
}

NetworkDepthSource::~NetworkDepthSource()
{
    impl->held.clear();
    impl->stop();
}

void NetworkDepthSource::process(SceneState& state)
{
    state.cameras.clear();
    {
        std::lock_guard<std::mutex> lock(impl->camerasMutex);
        impl->recorded = impl->cameras;
    }
    for (const std::shared_ptr<NetworkCamera>& camera : impl->recorded) {
        float* points = camera->points();
        if (!points)
            continue;
        auto record = std::make_shared<DepthCameraData>();
        record->modelMatrix = camera->modelMatrix;
        record->depthCorrection = camera->depthCorrection();
        record->removedDepthCorrection = camera->removedDepthCorrection();
        record->sourceName = camera->name();
        record->configPath = camera->configPath();
        record->frameId = camera->frameId();
        record->points = points;
        record->hasPointCloud = true;
        record->width = static_cast<std::int32_t>(camera->width());
        record->height = static_cast<std::int32_t>(camera->height());
        record->timestamp = camera->captureSeconds();
        state.cameras.push_back(std::move(record));
    }
}

void NetworkDepthSource::setModelMatrix(std::string name, const Mat4& matrix)
{
    std::lock_guard<std::mutex> lock(impl->camerasMutex);
    for (const std::shared_ptr<NetworkCamera>& camera : impl->cameras)
        if (camera->name() == name) {
            camera->modelMatrix = matrix;
            return;
        }
}

void NetworkDepthSource::setDepthCorrection(std::string name, const DepthCorrection& correction)
{
    std::lock_guard<std::mutex> lock(impl->camerasMutex);
    for (const std::shared_ptr<NetworkCamera>& camera : impl->cameras)
        if (camera->name() == name) {
            camera->setDepthCorrection(correction);
            return;
        }
}

// The records' capture times, and the depth corrections taken out of their points, follow the
// frames now held: a correction that changed since the records were made must be put back as it
// was removed from these points.
void NetworkDepthSource::holdFrames(SceneState& state)
{
    impl->held.clear();
    for (const std::shared_ptr<NetworkCamera>& camera : impl->recorded)
        impl->held.push_back(camera->holdFrame());
    for (const std::shared_ptr<DepthCameraData>& record : state.cameras)
        for (const std::shared_ptr<NetworkCamera>& camera : impl->recorded)
            if (camera->name() == record->sourceName) {
                record->timestamp = camera->captureSeconds();
                record->removedDepthCorrection = camera->removedDepthCorrection();
            }
}

void NetworkDepthSource::releaseFrames()
{
    impl->held.clear();
}

std::string NetworkDepthSource::syncMode() const
{
    return "ROS 2 domain " + std::to_string(impl->domain.domainId());
}

std::vector<std::string> NetworkDepthSource::cameraNames() const
{
    std::lock_guard<std::mutex> lock(impl->camerasMutex);
    std::vector<std::string> names;
    for (const std::shared_ptr<NetworkCamera>& camera : impl->cameras)
        names.push_back(camera->name());
    return names;
}

} // namespace tavorin
