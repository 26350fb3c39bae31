// The network depth source against publishers in the same process, over DDS on the loopback
// interface in a domain of this test's own: a camera appears, streams its cloud from compressed
// frames, goes and returns; malformed messages of another camera are refused with one line while
// the first keeps streaming; the calibration reaches an independent tf_static subscriber under the
// frame names the images carry.
#include "network/ros/DepthPublisher.h"
#include "network/ros/NetworkDepthSource.h"
#include "network/ros/RosDomain.h"
#include "network/ros/TfStaticPublisher.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include "sensor_msgs.h"
#include "tf2_msgs.h"

#include <dds/dds.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using tavorin::CameraInfoFields, tavorin::DepthPublisher, tavorin::Mat4, tavorin::NetworkDepthSource, tavorin::RosDomain,
    tavorin::SceneState;

namespace {

constexpr std::uint32_t kWidth = 64;
constexpr std::uint32_t kHeight = 48;
constexpr double kFocal = 50.0;

// Loopback only, and a domain of this process's own (tests run side by side), below the e2e tests'.
class NetworkSourceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("CYCLONEDDS_URI", "file://" TAVORIN_SOURCE_DIR "/tests/network/cyclonedds-loopback.xml", 1);
        setenv("ROS_DOMAIN_ID", std::to_string(1 + ::getpid() % 98).c_str(), 1);
    }

    const std::vector<std::uint16_t> wall = std::vector<std::uint16_t>(kWidth * kHeight, 1500); // mm
};

CameraInfoFields pinhole()
{
    return tavorin::rationalPolynomialInfo(kWidth, kHeight, kFocal, kFocal, 31.5, 23.5, {});
}

bool waitFor(const std::function<bool()>& done, double seconds = 10.0)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

// The record of the camera named `name` after process(), or null.
std::shared_ptr<tavorin::DepthCameraData> recordOf(NetworkDepthSource& source, const std::string& name)
{
    SceneState state;
    source.process(state);
    for (const auto& record : state.cameras)
        if (record->sourceName == name)
            return record;
    return nullptr;
}

} // namespace

// A wall 1.5 m away, sent as the driver sends it: the source takes the compressed frames, and every
// pixel becomes the point of its ray at the frame's depth, stamped with the header's time.
TEST_F(NetworkSourceTest, ACameraAppearsStreamsGoesAndReturns)
{
    RosDomain domain;
    ASSERT_TRUE(domain.ok());
    testing::internal::CaptureStdout();
    NetworkDepthSource source;
    auto publisher = std::make_unique<DepthPublisher>(domain, "test/cam_a", pinhole());
    std::shared_ptr<tavorin::DepthCameraData> record;
    ASSERT_TRUE(waitFor([&] {
        publisher->publish(wall.data(), 1234.5);
        return (record = recordOf(source, "test/cam_a")) != nullptr;
    }));
    EXPECT_DOUBLE_EQ(1234.5, *record->timestamp);
    EXPECT_EQ(static_cast<std::int32_t>(kWidth), record->width);
    const float* corner = record->points; // pixel (0, 0): 31.5 and 23.5 pixels off the axis
    EXPECT_NEAR(31.5 / kFocal * 1.5, corner[0], 1e-6);
    EXPECT_NEAR(23.5 / kFocal * 1.5, corner[1], 1e-6);
    EXPECT_NEAR(1.5, corner[2], 1e-6);

    publisher.reset();
    ASSERT_TRUE(waitFor([&] { return recordOf(source, "test/cam_a") == nullptr; }));
    publisher = std::make_unique<DepthPublisher>(domain, "test/cam_a", pinhole());
    ASSERT_TRUE(waitFor([&] {
        publisher->publish(wall.data(), 1235.0);
        return recordOf(source, "test/cam_a") != nullptr;
    }));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Network camera test/cam_a appeared (compressedDepth)"), std::string::npos) << out;
    EXPECT_NE(out.find("Network camera test/cam_a is gone: its publisher is gone"), std::string::npos) << out;
}

// Each kind of malformed message of camera B is refused with its own line; camera A goes on.
TEST_F(NetworkSourceTest, MalformedMessagesAreRefusedAndTheOtherCamerasStream)
{
    RosDomain domain;
    ASSERT_TRUE(domain.ok());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    NetworkDepthSource source;
    DepthPublisher good(domain, "test/good", pinhole());

    const auto writerOf = [&](const char* suffix, const dds_topic_descriptor_t* type) {
        const dds_entity_t topic = dds_create_topic(domain.handle(), type,
                                                    tavorin::ros_topics::topic("test/bad", suffix).c_str(), nullptr, nullptr);
        return dds_create_writer(domain.handle(), topic, nullptr, nullptr);
    };
    const dds_entity_t info = writerOf(tavorin::ros_topics::kCameraInfo, &sensor_msgs_msg_dds__CameraInfo__desc);
    const dds_entity_t image = writerOf(tavorin::ros_topics::kImage, &sensor_msgs_msg_dds__Image__desc);
    std::string model = "fisheye";
    std::string encoding = "16UC1";
    std::string frame = "test_bad_depth";
    std::vector<std::uint8_t> bytes(kWidth * kHeight * 2, 0);
    // The fields that camera_info and the image share.
    const auto sized = [&](auto& message) {
        message.header.frame_id = frame.data();
        message.width = kWidth;
        message.height = kHeight;
    };
    const auto sendInfo = [&](const std::string& distortion, double focal) {
        model = distortion;
        sensor_msgs_msg_dds__CameraInfo_ message{};
        sized(message);
        message.distortion_model = model.data();
        const double k[9] = {focal, 0, 31.5, 0, focal, 23.5, 0, 0, 1};
        std::copy(std::begin(k), std::end(k), message.k);
        dds_write(info, &message);
    };
    const auto sendImage = [&](const std::string& imageEncoding, std::uint32_t step, std::uint32_t length) {
        encoding = imageEncoding;
        sensor_msgs_msg_dds__Image_ message{};
        sized(message);
        message.encoding = encoding.data();
        message.step = step;
        message.data._buffer = bytes.data();
        message.data._length = message.data._maximum = length;
        dds_write(image, &message);
    };
    const struct {
        std::function<void()> send;
        const char* message;
    } cases[] = {
        {[&] { sendInfo("fisheye", kFocal); }, "fisheye"},
        {[&] { sendInfo("plumb_bob", 0.0); }, "focal"},
        {[&] { sendInfo("plumb_bob", std::nan("")); }, "focal"},
        {[&] { sendImage("rgb8", kWidth * 2, kWidth * kHeight * 2); }, "rgb8"},
        {[&] { sendImage("16UC1", kWidth * 2, kWidth * kHeight); }, "step"},
        {[&] { sendImage("16UC1", kWidth, kWidth * kHeight * 2); }, "step"},
    };
    const auto streaming = [&](const std::string& name) {
        const std::vector<std::string> names = source.cameraNames();
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    ASSERT_TRUE(waitFor([&] { return streaming("test/bad") && streaming("test/good"); }));
    for (const auto& c : cases) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            c.send();
            good.publish(wall.data(), 10.0 + repeat);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        EXPECT_NE(nullptr, recordOf(source, "test/good"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    for (const auto& c : cases)
        EXPECT_NE(err.find(c.message), std::string::npos) << c.message << " in: " << err;
    EXPECT_EQ(std::string::npos, err.find("test/good")) << err;
    EXPECT_EQ(nullptr, recordOf(source, "test/bad"));
}

// A publisher with ROS's sensor-data QoS (best effort) is matched too, and said to be one.
TEST_F(NetworkSourceTest, ABestEffortPublisherStreams)
{
    RosDomain domain;
    ASSERT_TRUE(domain.ok());
    testing::internal::CaptureStdout();
    NetworkDepthSource source;
    dds_qos_t* qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_BEST_EFFORT, 0);
    const auto writerOf = [&](const char* suffix, const dds_topic_descriptor_t* type) {
        const dds_entity_t topic = dds_create_topic(
            domain.handle(), type, tavorin::ros_topics::topic("test/lossy", suffix).c_str(), nullptr, nullptr);
        return dds_create_writer(domain.handle(), topic, qos, nullptr);
    };
    const dds_entity_t info = writerOf(tavorin::ros_topics::kCameraInfo, &sensor_msgs_msg_dds__CameraInfo__desc);
    const dds_entity_t image = writerOf(tavorin::ros_topics::kImage, &sensor_msgs_msg_dds__Image__desc);
    dds_delete_qos(qos);
    std::string model = "plumb_bob", encoding = "16UC1", frame = "test_lossy_depth";
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t pixel = 0; pixel < kWidth * kHeight; ++pixel)
        bytes.insert(bytes.end(), {1500 & 0xFF, 1500 >> 8});
    sensor_msgs_msg_dds__CameraInfo_ infoMessage{};
    infoMessage.header.frame_id = frame.data();
    infoMessage.width = kWidth;
    infoMessage.height = kHeight;
    infoMessage.distortion_model = model.data();
    double d[5] = {};
    infoMessage.d._buffer = d;
    infoMessage.d._length = infoMessage.d._maximum = 5;
    const double k[9] = {kFocal, 0, 31.5, 0, kFocal, 23.5, 0, 0, 1};
    std::copy(std::begin(k), std::end(k), infoMessage.k);
    sensor_msgs_msg_dds__Image_ imageMessage{};
    imageMessage.header.frame_id = frame.data();
    imageMessage.width = kWidth;
    imageMessage.height = kHeight;
    imageMessage.encoding = encoding.data();
    imageMessage.step = kWidth * 2;
    imageMessage.data._buffer = bytes.data();
    imageMessage.data._length = imageMessage.data._maximum = static_cast<std::uint32_t>(bytes.size());
    std::shared_ptr<tavorin::DepthCameraData> record;
    ASSERT_TRUE(waitFor([&] {
        dds_write(info, &infoMessage);
        dds_write(image, &imageMessage);
        return (record = recordOf(source, "test/lossy")) != nullptr;
    }));
    EXPECT_NEAR(1.5, record->points[2], 1e-6);
    EXPECT_EQ("test_lossy_depth", record->frameId) << "the frame its images carry";
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Network camera test/lossy appeared (image_raw, best-effort"), std::string::npos) << out;
}

// Cameras whose nodes run apart show their frames of one instant, the newest all have reached; a
// camera whose clock is far off neither waits for the others nor holds them back.
TEST_F(NetworkSourceTest, CamerasShowTheirFramesOfOneInstant)
{
    RosDomain domain;
    ASSERT_TRUE(domain.ok());
    testing::internal::CaptureStdout();
    NetworkDepthSource source;
    DepthPublisher ahead(domain, "test/ahead", pinhole());
    DepthPublisher behind(domain, "test/behind", pinhole());
    DepthPublisher offClock(domain, "test/off_clock", pinhole());
    const auto stampOf = [&](const char* name) {
        const auto record = recordOf(source, name);
        return record ? *record->timestamp : -1.0;
    };
    ASSERT_TRUE(waitFor([&] {
        ahead.publish(wall.data(), 10.0);
        behind.publish(wall.data(), 10.0);
        offClock.publish(wall.data(), 5000.0);
        return stampOf("test/ahead") == 10.0 && stampOf("test/behind") == 10.0 && stampOf("test/off_clock") == 5000.0;
    }));
    for (int k = 1; k <= 6; ++k)
        ahead.publish(wall.data(), 10.0 + 0.05 * k);
    offClock.publish(wall.data(), 5000.5);
    behind.publish(wall.data(), 10.1);
    EXPECT_TRUE(waitFor([&] { return std::fabs(stampOf("test/behind") - 10.1) < 1e-6; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_NEAR(10.1, stampOf("test/ahead"), 1e-6) << "the frame of the instant the other camera has reached";
    EXPECT_NEAR(5000.5, stampOf("test/off_clock"), 1e-6);
    behind.publish(wall.data(), 10.3);
    EXPECT_TRUE(waitFor([&] { return std::fabs(stampOf("test/ahead") - 10.3) < 1e-6; }));
    testing::internal::GetCapturedStdout();
}

// A subscriber that joins after the calibration was published still gets it (transient-local),
// from the room with z up to the frame the camera's images carry.
TEST_F(NetworkSourceTest, TheCalibrationReachesALateTfStaticSubscriber)
{
    const std::string folder = testing::TempDir() + "tavorin_tf_" + std::to_string(::getpid());
    std::filesystem::create_directories(folder + "/config/cameras/ros");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    RosDomain domain;
    NetworkDepthSource source;
    DepthPublisher camera(domain, "test/cam_a", pinhole());
    std::shared_ptr<tavorin::DepthCameraData> record;
    ASSERT_TRUE(waitFor([&] {
        camera.publish(wall.data(), 1.0);
        return (record = recordOf(source, "test/cam_a")) != nullptr;
    }));
    record->modelMatrix = translate(Mat4(), 1.0f, 2.0f, 3.0f); // 2 m above the room's floor
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    tavorin::TfStaticPublisher publisher;
    const bool published = publisher.publish(tavorin::cameraTransforms({record}));
    std::filesystem::current_path(before);
    ASSERT_TRUE(published);
    std::ifstream yaml(folder + "/" + tavorin::TfStaticPublisher::kYamlPath);
    const std::string text((std::istreambuf_iterator<char>(yaml)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("child_frame_id: \"test/cam_a_depth\""), std::string::npos) << text;
    EXPECT_NE(text.find("translation: {x: 1, y: -3, z: 2}"), std::string::npos) << text;
    RosDomain subscriber;
    const dds_entity_t topic =
        dds_create_topic(subscriber.handle(), &tf2_msgs_msg_dds__TFMessage__desc, "rt/tf_static", nullptr, nullptr);
    dds_qos_t* qos = dds_create_qos();
    dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
    dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
    const dds_entity_t reader = dds_create_reader(subscriber.handle(), topic, qos, nullptr);
    dds_delete_qos(qos);
    std::string child;
    double height = 0.0;
    ASSERT_TRUE(waitFor([&] {
        void* samples[1] = {nullptr};
        dds_sample_info_t infos[1];
        if (dds_take(reader, samples, infos, 1, 1) <= 0)
            return false;
        const auto* message = static_cast<const tf2_msgs_msg_dds__TFMessage_*>(samples[0]);
        if (infos[0].valid_data && message->transforms._length == 1) {
            child = message->transforms._buffer[0].child_frame_id;
            height = message->transforms._buffer[0].transform.translation.z;
            EXPECT_STREQ("room", message->transforms._buffer[0].header.frame_id);
        }
        dds_return_loan(reader, samples, 1);
        return !child.empty();
    }));
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ("test/cam_a_depth", child);
    EXPECT_NEAR(2.0, height, 1e-6);
}
