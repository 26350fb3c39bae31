// Our depth-camera SDK layer as the capture code calls it, over virtual devices.

// Virtual devices exist only in our own SDK layer; against the installed SDK these tests drop out.
#if __has_include(<k4a_virtual/VirtualDevice.h>)
#include "test_capture_support.h"

#include "acquisition/live/AzureKinectReadingThread.h"

#include <k4a/k4a.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

using namespace capture_test;
using tavorin::AzureKinectReadingThread;

namespace {

// Opens device `index` and starts it streaming.
k4a_device_t startDevice(std::uint32_t index)
{
    k4a_device_t device = nullptr;
    EXPECT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_open(index, &device));
    const k4a_device_configuration_t config = AzureKinectReadingThread::captureConfiguration();
    EXPECT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_start_cameras(device, &config));
    return device;
}

std::string serialOf(k4a_device_t device)
{
    size_t size = 0;
    EXPECT_EQ(K4A_BUFFER_RESULT_TOO_SMALL, k4a_device_get_serialnum(device, nullptr, &size));
    std::vector<char> text(size);
    EXPECT_EQ(K4A_BUFFER_RESULT_SUCCEEDED, k4a_device_get_serialnum(device, text.data(), &size));
    return std::string(text.data());
}

// Depth 2000 mm everywhere but a 0 in the first row; every colour pixel holds its own column in
// B, G and its row in R, A (little end first).
class CoordinateSource : public k4a_virtual::FrameSource {
public:
    static constexpr std::uint16_t kDepthMm = 2000;

    void render(const k4a_calibration_t&, std::uint64_t, const k4a_virtual::FrameBuffers& frame) override
    {
        for (int k = 0; k < frame.depthWidth * frame.depthHeight; ++k)
            frame.depthMm[k] = k < frame.depthWidth ? 0 : kDepthMm;
        for (int r = 0; r < frame.colorHeight; ++r)
            for (int c = 0; c < frame.colorWidth; ++c) {
                std::uint8_t* p = frame.bgra + 4 * (r * frame.colorWidth + c);
                p[0] = c & 0xff;
                p[1] = c >> 8;
                p[2] = r & 0xff;
                p[3] = r >> 8;
            }
    }
};

using SdkLayer = VirtualDevices;

// The two timestamps of a capture's depth image.
struct Stamps {
    std::uint64_t deviceUsec;
    std::uint64_t systemNsec;
    // Where the device clock reads 0, on the host clock.
    std::int64_t clockZeroNsec() const
    {
        return static_cast<std::int64_t>(systemNsec) - static_cast<std::int64_t>(deviceUsec) * 1000;
    }
};

constexpr std::int64_t kFramePeriodNs = 1000000000 / 30;
constexpr std::int64_t kClockResolutionNs = 1000; // device timestamps count microseconds

// A device without a frame source (empty frames, quick to render) on the sync cable or off it.
std::shared_ptr<k4a_virtual::VirtualDevice> plugInBareDevice(const std::string& serial, bool onSyncCable)
{
    auto device = std::make_shared<k4a_virtual::VirtualDevice>(serial, realBlob(), nullptr);
    device->onSyncCable = onSyncCable;
    device->syncInCable = true;
    device->syncOutCable = true;
    k4a_virtual::plugIn(device);
    return device;
}

bool startInMode(k4a_device_t device, k4a_wired_sync_mode_t mode, std::uint32_t delayUsec)
{
    k4a_device_configuration_t config = K4A_DEVICE_CONFIG_INIT_DISABLE_ALL;
    config.depth_mode = K4A_DEPTH_MODE_NFOV_UNBINNED;
    config.camera_fps = K4A_FRAMES_PER_SECOND_30;
    config.wired_sync_mode = mode;
    config.subordinate_delay_off_master_usec = delayUsec;
    return K4A_SUCCEEDED(k4a_device_start_cameras(device, &config));
}

bool nextStamps(k4a_device_t device, Stamps& stamps)
{
    k4a_capture_t capture = nullptr;
    if (k4a_device_get_capture(device, &capture, K4A_WAIT_INFINITE) != K4A_WAIT_RESULT_SUCCEEDED)
        return false;
    k4a_image_t depth = k4a_capture_get_depth_image(capture);
    stamps = Stamps{k4a_image_get_device_timestamp_usec(depth), k4a_image_get_system_timestamp_nsec(depth)};
    k4a_image_release(depth);
    k4a_capture_release(capture);
    return true;
}

// How far `later` lies after `earlier` within the frame period, from 0 up to the period.
std::int64_t phaseAfter(std::uint64_t earlier, std::uint64_t later)
{
    const std::int64_t phase = (static_cast<std::int64_t>(later) - static_cast<std::int64_t>(earlier)) % kFramePeriodNs;
    return phase < 0 ? phase + kFramePeriodNs : phase;
}

// The distance of two phases around the frame period.
std::int64_t phaseDistance(std::int64_t a, std::int64_t b)
{
    const std::int64_t d = std::llabs(a - b) % kFramePeriodNs;
    return std::min(d, kFramePeriodNs - d);
}

} // namespace

TEST_F(SdkLayer, EnumeratesOnlyThePluggedInDevicesInPlugInOrder)
{
    k4a_device_t device = nullptr;
    EXPECT_EQ(0u, k4a_device_get_installed_count());
    EXPECT_EQ(K4A_RESULT_FAILED, k4a_device_open(0, &device));

    const auto first = plugInDevice("000000000001");
    const auto second = plugInDevice("000000000002");
    k4a_virtual::plugIn(second);
    EXPECT_EQ(2u, k4a_device_get_installed_count());

    k4a_virtual::unplug(first);
    ASSERT_EQ(1u, k4a_device_get_installed_count());
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_open(0, &device));
    EXPECT_EQ("000000000002", serialOf(device));
    EXPECT_TRUE(second->isOpen.load());
    k4a_device_close(device);
    EXPECT_FALSE(second->isOpen.load());
}

TEST_F(SdkLayer, OpeningFailsWithoutPowerAndForADeviceAlreadyOpen)
{
    const auto device = plugInDevice("000000000001");
    k4a_device_t handle = nullptr;
    device->noPower = true;
    EXPECT_EQ(K4A_RESULT_FAILED, k4a_device_open(0, &handle));
    EXPECT_EQ(nullptr, handle);

    device->noPower = false;
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_open(0, &handle));
    k4a_device_t again = nullptr;
    EXPECT_EQ(K4A_RESULT_FAILED, k4a_device_open(0, &again));
    k4a_device_close(handle);
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_open(0, &again));
    k4a_device_close(again);
    EXPECT_EQ(2, device->timesOpened.load());
}

TEST_F(SdkLayer, SerialNumberIsAskedForBySizeFirst)
{
    const auto device = plugInDevice("001514394512");
    k4a_device_t handle = nullptr;
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_open(0, &handle));
    size_t size = 0;
    EXPECT_EQ(K4A_BUFFER_RESULT_TOO_SMALL, k4a_device_get_serialnum(handle, nullptr, &size));
    EXPECT_EQ(13u, size);
    char small[5] = {};
    size = sizeof(small);
    EXPECT_EQ(K4A_BUFFER_RESULT_TOO_SMALL, k4a_device_get_serialnum(handle, small, &size));
    EXPECT_EQ("001514394512", serialOf(handle));

    device->serialFails = true;
    EXPECT_EQ(K4A_BUFFER_RESULT_FAILED, k4a_device_get_serialnum(handle, nullptr, &size));
    k4a_device_close(handle);
}

TEST_F(SdkLayer, CalibrationComesFromTheRawBlobForTheDepthMode)
{
    const auto device = plugInDevice("001514394512");
    k4a_device_t handle = nullptr;
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_open(0, &handle));
    k4a_calibration_t calibration{};
    ASSERT_EQ(K4A_RESULT_SUCCEEDED,
              k4a_device_get_calibration(handle, K4A_DEPTH_MODE_NFOV_UNBINNED, K4A_COLOR_RESOLUTION_720P,
                                         &calibration));
    const auto& depth = calibration.depth_camera_calibration;
    EXPECT_EQ(640, depth.resolution_width);
    EXPECT_EQ(576, depth.resolution_height);
    constexpr float kPixelTolerance = 1e-3f; // the blob's own figures, in pixels
    EXPECT_NEAR(332.781067f, depth.intrinsics.parameters.param.cx, kPixelTolerance);
    EXPECT_NEAR(348.829712f, depth.intrinsics.parameters.param.cy, kPixelTolerance);
    EXPECT_NEAR(504.607635f, depth.intrinsics.parameters.param.fx, kPixelTolerance);
    EXPECT_NEAR(504.732513f, depth.intrinsics.parameters.param.fy, kPixelTolerance);
    EXPECT_EQ(1280, calibration.color_camera_calibration.resolution_width);
    EXPECT_EQ(720, calibration.color_camera_calibration.resolution_height);

    EXPECT_EQ(K4A_RESULT_FAILED,
              k4a_device_get_calibration(handle, K4A_DEPTH_MODE_NFOV_UNBINNED, K4A_COLOR_RESOLUTION_1080P,
                                         &calibration));
    device->calibrationFails = true;
    EXPECT_EQ(K4A_RESULT_FAILED,
              k4a_device_get_calibration(handle, K4A_DEPTH_MODE_NFOV_UNBINNED, K4A_COLOR_RESOLUTION_720P,
                                         &calibration));
    k4a_device_close(handle);
}

TEST_F(SdkLayer, StreamingDeviceDeliversDepthAndColourOfItsFrameSource)
{
    const auto device = plugInDevice("000000000001");
    k4a_device_t handle = nullptr;
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_open(0, &handle));
    k4a_capture_t capture = nullptr;
    EXPECT_EQ(K4A_WAIT_RESULT_FAILED, k4a_device_get_capture(handle, &capture, K4A_WAIT_INFINITE));
    k4a_device_configuration_t config = AzureKinectReadingThread::captureConfiguration();
    device->startFails = true;
    EXPECT_EQ(K4A_RESULT_FAILED, k4a_device_start_cameras(handle, &config));
    device->startFails = false;
    config.color_format = K4A_IMAGE_FORMAT_COLOR_MJPG;
    EXPECT_EQ(K4A_RESULT_FAILED, k4a_device_start_cameras(handle, &config));
    config = AzureKinectReadingThread::captureConfiguration();
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_start_cameras(handle, &config));
    EXPECT_EQ(K4A_RESULT_FAILED, k4a_device_start_cameras(handle, &config));

    ASSERT_EQ(K4A_WAIT_RESULT_SUCCEEDED, k4a_device_get_capture(handle, &capture, K4A_WAIT_INFINITE));
    k4a_image_t depth = k4a_capture_get_depth_image(capture);
    k4a_image_t color = k4a_capture_get_color_image(capture);
    k4a_capture_release(capture); // the image handles keep their images
    ASSERT_NE(nullptr, depth);
    ASSERT_NE(nullptr, color);
    EXPECT_EQ(K4A_IMAGE_FORMAT_DEPTH16, k4a_image_get_format(depth));
    EXPECT_EQ(640, k4a_image_get_width_pixels(depth));
    EXPECT_EQ(576, k4a_image_get_height_pixels(depth));
    EXPECT_EQ(1280, k4a_image_get_stride_bytes(depth));
    const auto* depthMm = reinterpret_cast<const std::uint16_t*>(k4a_image_get_buffer(depth));
    EXPECT_EQ(PatternSource::depthAt(17, 300), depthMm[300 * 640 + 17]);
    EXPECT_EQ(0, depthMm[0]);
    EXPECT_EQ(K4A_IMAGE_FORMAT_COLOR_BGRA32, k4a_image_get_format(color));
    EXPECT_EQ(1280u * 720u * 4u, k4a_image_get_size(color));
    EXPECT_EQ(0, std::memcmp(PatternSource::kColor, k4a_image_get_buffer(color) + 4 * 5000, 4));
    k4a_image_release(depth);
    k4a_image_release(color);

    device->omitDepth = true;
    ASSERT_EQ(K4A_WAIT_RESULT_SUCCEEDED, k4a_device_get_capture(handle, &capture, K4A_WAIT_INFINITE));
    EXPECT_EQ(nullptr, k4a_capture_get_depth_image(capture));
    color = k4a_capture_get_color_image(capture);
    EXPECT_NE(nullptr, color);
    k4a_image_release(color);
    k4a_capture_release(capture);
    device->omitDepth = false;
    device->omitColor = true;
    ASSERT_EQ(K4A_WAIT_RESULT_SUCCEEDED, k4a_device_get_capture(handle, &capture, K4A_WAIT_INFINITE));
    EXPECT_EQ(nullptr, k4a_capture_get_color_image(capture));
    k4a_capture_release(capture);
    EXPECT_EQ(3u, device->framesDelivered.load());
    k4a_device_close(handle);
}

TEST_F(SdkLayer, CaptureFaultsAnswerFailureOrTimeoutAndEveryWaitEnds)
{
    const auto device = plugInDevice("000000000001");
    k4a_device_t handle = startDevice(0);
    k4a_capture_t capture = nullptr;
    device->captureFails = true;
    EXPECT_EQ(K4A_WAIT_RESULT_FAILED, k4a_device_get_capture(handle, &capture, K4A_WAIT_INFINITE));
    device->captureFails = false;
    device->captureTimesOut = true;
    EXPECT_EQ(K4A_WAIT_RESULT_TIMEOUT, k4a_device_get_capture(handle, &capture, K4A_WAIT_INFINITE));
    device->captureTimesOut = false;
    device->goesSilent = true;
    EXPECT_EQ(K4A_WAIT_RESULT_TIMEOUT, k4a_device_get_capture(handle, &capture, 10));
    device->goesSilent = false;
    EXPECT_EQ(K4A_WAIT_RESULT_SUCCEEDED, k4a_device_get_capture(handle, &capture, K4A_WAIT_INFINITE));
    k4a_capture_release(capture);

    device->goesSilent = true;
    std::thread unplugs([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        k4a_virtual::unplug(device);
    });
    EXPECT_EQ(K4A_WAIT_RESULT_FAILED, k4a_device_get_capture(handle, &capture, K4A_WAIT_INFINITE))
        << "a wait without a limit on a silent device ends at the unplug";
    unplugs.join();
    k4a_device_close(handle);
}

// The colour pixel each depth pixel receives must be where a pinhole colour camera (the virtual
// device's colour camera has no distortion) sees that depth pixel's 3D point.
TEST_F(SdkLayer, ColourIsResampledIntoTheDepthCamerasGrid)
{
    const auto device = std::make_shared<k4a_virtual::VirtualDevice>("000000000001", realBlob(),
                                                                      std::make_shared<CoordinateSource>());
    k4a_virtual::plugIn(device);
    k4a_device_t handle = startDevice(0);
    k4a_calibration_t calibration{};
    ASSERT_EQ(K4A_RESULT_SUCCEEDED,
              k4a_device_get_calibration(handle, K4A_DEPTH_MODE_NFOV_UNBINNED, K4A_COLOR_RESOLUTION_720P,
                                         &calibration));
    k4a_transformation_t transformation = k4a_transformation_create(&calibration);
    ASSERT_NE(nullptr, transformation);
    k4a_capture_t capture = nullptr;
    ASSERT_EQ(K4A_WAIT_RESULT_SUCCEEDED, k4a_device_get_capture(handle, &capture, K4A_WAIT_INFINITE));
    k4a_image_t depth = k4a_capture_get_depth_image(capture);
    k4a_image_t color = k4a_capture_get_color_image(capture);
    k4a_image_t out = nullptr;
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_image_create(K4A_IMAGE_FORMAT_COLOR_BGRA32, 640, 576, 640 * 4, &out));
    EXPECT_EQ(K4A_RESULT_FAILED, k4a_transformation_color_image_to_depth_camera(transformation, color, depth, out));
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_transformation_color_image_to_depth_camera(transformation, depth, color, out));

    const std::uint8_t* pixels = k4a_image_get_buffer(out);
    const auto& extrinsics = calibration.extrinsics[K4A_CALIBRATION_TYPE_DEPTH][K4A_CALIBRATION_TYPE_COLOR];
    const auto& colorCamera = calibration.color_camera_calibration.intrinsics.parameters.param;
    int compared = 0;
    for (int r = 8; r < 576; r += 37)
        for (int c = 5; c < 640; c += 41) {
            k4a_float2_t pixel;
            pixel.xy = {static_cast<float>(c), static_cast<float>(r)};
            k4a_float3_t point;
            int valid = 0;
            k4a_calibration_2d_to_3d(&calibration, &pixel, CoordinateSource::kDepthMm, K4A_CALIBRATION_TYPE_DEPTH,
                                     K4A_CALIBRATION_TYPE_DEPTH, &point, &valid);
            ASSERT_TRUE(valid);
            double p[3];
            for (int i = 0; i < 3; ++i)
                p[i] = extrinsics.rotation[3 * i] * point.v[0] + extrinsics.rotation[3 * i + 1] * point.v[1]
                    + extrinsics.rotation[3 * i + 2] * point.v[2] + extrinsics.translation[i];
            const double u = colorCamera.fx * p[0] / p[2] + colorCamera.cx;
            const double v = colorCamera.fy * p[1] / p[2] + colorCamera.cy;
            const std::uint8_t* got = pixels + 4 * (r * 640 + c);
            if (u < -1 || v < -1 || u > 1280 || v > 720) {
                EXPECT_EQ(0, got[0] | got[1] | got[2] | got[3]) << c << ", " << r;
                continue;
            }
            if (u < 1 || v < 1 || u > 1278 || v > 718)
                continue; // rounding decides at the border
            EXPECT_NEAR(u, got[0] + 256 * got[1], 0.51) << c << ", " << r;
            EXPECT_NEAR(v, got[2] + 256 * got[3], 0.51) << c << ", " << r;
            ++compared;
        }
    EXPECT_GT(compared, 100);
    const std::uint8_t* firstRow = pixels + 4 * 320; // no depth there
    EXPECT_EQ(0, firstRow[0] | firstRow[1] | firstRow[2] | firstRow[3]);

    k4a_image_release(out);
    k4a_image_release(depth);
    k4a_image_release(color);
    k4a_capture_release(capture);
    k4a_transformation_destroy(transformation);
    k4a_device_close(handle);
}

// Standalone devices off the sync cable each capture at their own phase of the frame period; on
// the cable they keep its instants.
TEST_F(SdkLayer, StandaloneDevicesCaptureAtTheirPhaseOffsetAndTheSyncCableKeepsItsInstants)
{
    using std::chrono::microseconds;
    const struct {
        const char* serial;
        microseconds phaseOffset;
        bool onSyncCable;
        std::int64_t phaseNs; // after the first device's frames
    } devices[] = {{"000000000001", microseconds(0), false, 0},
                   {"000000000002", microseconds(11000), false, 11000000},
                   {"000000000003", microseconds(22000), false, 22000000},
                   {"000000000004", microseconds(45000), false, 45000000 - kFramePeriodNs},
                   {"000000000005", microseconds(11000), true, 0}};
    std::vector<Stamps> first;
    for (std::uint32_t i = 0; i < std::size(devices); ++i) {
        auto device = std::make_shared<k4a_virtual::VirtualDevice>(devices[i].serial, realBlob(), nullptr);
        device->phaseOffset = devices[i].phaseOffset;
        device->onSyncCable = devices[i].onSyncCable;
        k4a_virtual::plugIn(device);
        k4a_device_t handle = nullptr;
        ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_open(i, &handle));
        ASSERT_TRUE(startInMode(handle, K4A_WIRED_SYNC_MODE_STANDALONE, 0));
        Stamps stamps{};
        ASSERT_TRUE(nextStamps(handle, stamps));
        k4a_device_close(handle);
        first.push_back(stamps);
        EXPECT_EQ(0u, stamps.deviceUsec) << devices[i].serial << ": its clock counts from its first frame";
        EXPECT_LE(phaseDistance(phaseAfter(first[0].systemNsec, stamps.systemNsec), devices[i].phaseNs), kClockResolutionNs)
            << devices[i].serial;
    }
}

// On the sync cable, subordinates started before their master deliver nothing until it starts,
// then share its device clock; one started while the master streams counts from its own start.
// Every subordinate captures its delay after the master.
TEST_F(SdkLayer, SubordinatesStartedBeforeTheMasterShareItsClockAndALaterOneDoesNot)
{
    constexpr std::uint32_t kMaster = 0;
    constexpr std::size_t kFramesEach = 3;
    const struct {
        const char* serial;
        k4a_wired_sync_mode_t mode;
        std::uint32_t delayUsec;
        bool startsAfterMaster;
    } devices[] = {{"000000000001", K4A_WIRED_SYNC_MODE_MASTER, 0, false},
                   {"000000000002", K4A_WIRED_SYNC_MODE_SUBORDINATE, 160, false},
                   {"000000000003", K4A_WIRED_SYNC_MODE_SUBORDINATE, 320, false},
                   {"000000000004", K4A_WIRED_SYNC_MODE_SUBORDINATE, 480, true}};
    const std::size_t count = std::size(devices);
    std::vector<std::shared_ptr<k4a_virtual::VirtualDevice>> plugged;
    std::vector<k4a_device_t> handles(count, nullptr);
    std::vector<std::vector<Stamps>> stamps(count);
    std::vector<std::thread> capturing;
    // When each device's start was called and when it returned, on the host clock: a device whose
    // clock is its own reads 0 at its first instant, which lies between the two, at most a frame
    // and its delay later. (Its first frame may be dropped on a busy host, as a device's queue does.)
    std::vector<std::int64_t> startCalledNsec(count), startReturnedNsec(count);
    const auto hostNsec = [] {
        return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                             std::chrono::steady_clock::now().time_since_epoch())
                                             .count());
    };
    for (std::uint32_t i = 0; i < count; ++i) {
        plugged.push_back(plugInBareDevice(devices[i].serial, true));
        ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_device_open(i, &handles[i]));
    }
    // Each device captures until its cameras are stopped.
    const auto start = [&](std::uint32_t i) {
        startCalledNsec[i] = hostNsec();
        ASSERT_TRUE(startInMode(handles[i], devices[i].mode, devices[i].delayUsec)) << devices[i].serial;
        startReturnedNsec[i] = hostNsec();
        capturing.emplace_back([&stamps, &handles, i] {
            Stamps next{};
            while (nextStamps(handles[i], next))
                stamps[i].push_back(next);
        });
    };
    const auto delivered = [&](std::uint32_t i, std::size_t frames) {
        return eventually([&] { return plugged[i]->framesDelivered.load() >= frames; });
    };
    ASSERT_TRUE(startInMode(handles[1], devices[1].mode, devices[1].delayUsec));
    k4a_capture_t capture = nullptr;
    EXPECT_EQ(K4A_WAIT_RESULT_TIMEOUT, k4a_device_get_capture(handles[1], &capture, 50)) << "no master, no trigger";
    k4a_device_stop_cameras(handles[1]);
    for (std::uint32_t i = 1; i < count; ++i)
        if (!devices[i].startsAfterMaster)
            start(i);
    start(kMaster);
    ASSERT_TRUE(delivered(kMaster, 2));
    for (std::uint32_t i = 1; i < count; ++i)
        if (devices[i].startsAfterMaster)
            start(i);
    for (std::uint32_t i = 0; i < count; ++i)
        EXPECT_TRUE(delivered(i, kFramesEach)) << devices[i].serial;
    for (k4a_device_t handle : handles)
        k4a_device_stop_cameras(handle);
    for (std::thread& thread : capturing)
        thread.join();
    for (k4a_device_t handle : handles)
        k4a_device_close(handle);

    ASSERT_GE(stamps[kMaster].size(), kFramesEach);
    const Stamps& masterFirst = stamps[kMaster].front();
    const auto expectOwnClock = [&](std::uint32_t i, const Stamps& first) {
        EXPECT_GE(first.clockZeroNsec(), startCalledNsec[i]) << devices[i].serial << ": counts from its own start";
        EXPECT_LE(first.clockZeroNsec(), startReturnedNsec[i] + kFramePeriodNs + devices[i].delayUsec * 1000)
            << devices[i].serial << ": counts from its own start";
    };
    expectOwnClock(kMaster, masterFirst);
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_GE(stamps[i].size(), kFramesEach) << devices[i].serial;
        const Stamps& own = stamps[i].front();
        for (const Stamps& frame : stamps[i]) {
            EXPECT_NEAR(static_cast<double>(own.clockZeroNsec()), static_cast<double>(frame.clockZeroNsec()),
                        kClockResolutionNs) << devices[i].serial << ": one clock";
            EXPECT_LE(phaseDistance(phaseAfter(masterFirst.systemNsec, frame.systemNsec), devices[i].delayUsec * 1000),
                      kClockResolutionNs) << devices[i].serial << ": captures its delay after the master";
        }
        if (devices[i].startsAfterMaster) {
            expectOwnClock(static_cast<std::uint32_t>(i), own);
            EXPECT_GE(own.clockZeroNsec() - masterFirst.clockZeroNsec(), 2 * kFramePeriodNs) << devices[i].serial;
        } else {
            EXPECT_NEAR(static_cast<double>(masterFirst.clockZeroNsec()), static_cast<double>(own.clockZeroNsec()),
                        kClockResolutionNs) << devices[i].serial << ": the master's clock";
        }
    }
}

TEST(SdkLayerImages, CreationChecksTheStrideAgainstTheFormat)
{
    k4a_image_t image = nullptr;
    EXPECT_EQ(K4A_RESULT_FAILED, k4a_image_create(K4A_IMAGE_FORMAT_COLOR_BGRA32, 10, 4, 39, &image));
    EXPECT_EQ(nullptr, image);
    EXPECT_EQ(K4A_RESULT_FAILED, k4a_image_create(K4A_IMAGE_FORMAT_CUSTOM, 0, 4, 8, &image));
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_image_create(K4A_IMAGE_FORMAT_CUSTOM, 10, 4, 80, &image));
    EXPECT_EQ(320u, k4a_image_get_size(image));
    k4a_image_release(image);
}

#endif
