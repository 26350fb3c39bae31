// Recording live devices: the files play back through the reader, after a full disk and an
// unplugged camera too; the queue counts what it cannot hold; unusable folders are refused.
#include "acquisition/live/AzureKinectReadingThread.h"
#include "acquisition/live/CameraRecorder.h"
#include "acquisition/recording/HDF5RecordingReader.h"
#include "acquisition/recording/HDF5RecordingWriter.h"
#include "acquisition/live/RecordingSession.h"
#include "test_capture_support.h"

#include <k4a/k4a.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tavorin;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 576;
constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;

std::string freshFolder()
{
    char name[] = "/tmp/tavorin-recording-XXXXXX";
    return mkdtemp(name) ? std::string(name) : std::string();
}

// Frame f: depth 800 + f + (pixel % 1000) mm, no depth on every 13th pixel; colour from f.
std::vector<std::uint16_t> depthOf(int frame)
{
    std::vector<std::uint16_t> depth(kPixels);
    for (std::size_t k = 0; k < kPixels; ++k)
        depth[k] = k % 13 == 0 ? 0 : static_cast<std::uint16_t>(800 + frame + k % 1000);
    return depth;
}

std::vector<std::uint8_t> colorOf(int frame)
{
    std::vector<std::uint8_t> bgra(kPixels * 4);
    for (std::size_t k = 0; k < bgra.size(); ++k)
        bgra[k] = static_cast<std::uint8_t>(frame * 31 + k % 251);
    return bgra;
}

HDF5RecordingWriter::Layout layout(bool withColor)
{
    HDF5RecordingWriter::Layout result;
    result.width = kWidth;
    result.height = kHeight;
    result.withColor = withColor;
    result.cameraParameters = {332.781067f, 348.829712f, 504.607635f, 504.732513f};
    result.rawCalibration = capture_test::realBlob();
    return result;
}

// Every frame's depth, as the calibrated points' z in metres, and colour.
void expectFrames(const std::string& path, int frames, bool withColor, double firstSeconds)
{
    HDF5RecordingReader reader;
    ASSERT_TRUE(reader.open(path, true)) << path;
    ASSERT_EQ(reader.frameCount(), static_cast<std::uint32_t>(frames));
    EXPECT_TRUE(reader.hasRawCalibration());
    EXPECT_EQ(reader.colourEnabled(), withColor);
    for (int f = 0; f < frames; ++f) {
        ASSERT_TRUE(reader.loadFrame(static_cast<std::uint32_t>(f)));
        EXPECT_DOUBLE_EQ(reader.timestampAt(static_cast<std::uint32_t>(f)), firstSeconds + f / 30.0);
        const std::vector<std::uint16_t> depth = depthOf(f);
        for (std::size_t k = 0; k < kPixels; k += 997)
            EXPECT_FLOAT_EQ(reader.points()[4 * k + 2], depth[k] / 1000.0f) << "frame " << f << " pixel " << k;
        if (withColor) {
            EXPECT_EQ(std::memcmp(reader.colors(), colorOf(f).data(), kPixels * 4), 0) << "frame " << f;
        }
    }
}

// Writes frames until the writer fails or `frames` are written; the count written.
int writeFrames(HDF5RecordingWriter& writer, int frames)
{
    int written = 0;
    while (written < frames) {
        if (!writer.append(depthOf(written).data(), colorOf(written).data(), written / 30.0))
            break;
        ++written;
    }
    return written;
}

} // namespace

TEST(Recording, WrittenFilesPlayBackFrameByFrame)
{
    for (const bool withColor : {true, false}) {
        const std::string path = freshFolder() + "/kinect_000000000001.h5";
        HDF5RecordingWriter writer;
        ASSERT_TRUE(writer.create(path, layout(withColor))) << writer.error();
        ASSERT_EQ(writeFrames(writer, 4), 4);
        ASSERT_TRUE(writer.finish()) << writer.error();
        EXPECT_NE(access(writer.temporaryPath().c_str(), F_OK), 0) << "the temporary file stays";
        expectFrames(path, 4, withColor, 0.0);

        HDF5RecordingWriter second;
        EXPECT_FALSE(second.create(path, layout(withColor))) << "an existing recording was replaced";
    }
}

// A file size limit stands for a full disk: the write that does not fit fails, and the file keeps
// every frame before it. The limit is set in a child process, which reports the frames written.
TEST(Recording, FullDiskLeavesTheCompleteFramesPlayable)
{
    for (const rlim_t limitBytes : {rlim_t(4) << 20, rlim_t(5) << 20}) {
        const std::string path = freshFolder() + "/kinect_000000000002.h5";
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{limitBytes, limitBytes};
            setrlimit(RLIMIT_FSIZE, &limit);
            HDF5RecordingWriter writer;
            const int written = writer.create(path, layout(true)) ? writeFrames(writer, 250) : 0;
            if (!writer.finish())
                std::fprintf(stderr, "%s\n", writer.error().c_str());
            _exit(written);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        const int written = WEXITSTATUS(status);
        ASSERT_GT(written, 0) << "limit " << limitBytes;
        ASSERT_LT(written, 250) << "the limit never hit";
        expectFrames(path, written, true, 0.0);
    }
}

// The recorder's time axis: each frame's capture time on the host clock, from the session's start.
TEST(Recording, RecorderPutsCaptureTimesOnTheSessionAxisAndCountsDrops)
{
    constexpr std::uint64_t kStartNs = 5'000'000'000;
    struct Case {
        std::uint64_t firstSystemNs;
        std::uint64_t firstDeviceUsec;
        double firstSeconds;
    };
    for (const Case& c : {Case{kStartNs + 250'000'000, 1'000'000, 0.25}, Case{kStartNs + 40'000'000, 7'777, 0.04}}) {
        CameraRecorder::Settings settings;
        settings.path = freshFolder() + "/kinect_000000000003.h5";
        settings.layout = layout(true);
        settings.queueFrames = 1;
        CameraRecorder recorder(settings);
        recorder.start(kStartNs);
        constexpr int kFrames = 40;
        std::vector<std::vector<std::uint16_t>> depths;
        for (int f = 0; f < kFrames; ++f)
            depths.push_back(depthOf(f));
        const std::vector<std::uint8_t> bgra = colorOf(0);
        for (int f = 0; f < kFrames; ++f) {
            const std::uint64_t deviceUsec = c.firstDeviceUsec + static_cast<std::uint64_t>(f) * 1'000'000 / 30;
            // The system timestamps come late by a latency of their own; the capture time does not.
            const std::uint64_t systemNs = c.firstSystemNs + static_cast<std::uint64_t>(f) * 1'000'000'000 / 30;
            const double captureSeconds = (static_cast<double>(c.firstSystemNs) + f * 1e9 / 30.0) / 1e9;
            recorder.onFrame({depths[f].data(), bgra.data(), kWidth, kHeight, deviceUsec,
                              systemNs + static_cast<std::uint64_t>(f % 3) * 1'000'000, captureSeconds});
        }
        ASSERT_TRUE(recorder.finish()) << recorder.error();
        EXPECT_GT(recorder.framesDropped(), 0u) << "a queue of one frame held 40 frames given at once";
        EXPECT_EQ(recorder.framesWritten() + recorder.framesDropped(), static_cast<std::uint64_t>(kFrames));
        HDF5RecordingReader reader;
        ASSERT_TRUE(reader.open(settings.path, false));
        ASSERT_EQ(reader.frameCount(), recorder.framesWritten());
        EXPECT_NEAR(reader.timestampAt(0), c.firstSeconds, 1e-9);
        for (std::uint32_t i = 1; i < reader.frameCount(); ++i) {
            EXPECT_GT(reader.timestampAt(i), reader.timestampAt(i - 1));
            const double frames = (reader.timestampAt(i) - c.firstSeconds) * 30.0;
            EXPECT_NEAR(frames, std::round(frames), 1e-6) << "frame " << i << " is not at its capture time";
        }
    }
}

TEST(Recording, FoldersThatCannotTakeRecordingsAreRefused)
{
    const std::string fresh = freshFolder();
    const std::string aFile = fresh + "/plain-file";
    std::ofstream(aFile) << "x";
    for (const std::string& folder : {std::string("/proc/self/recordings"), aFile, aFile + "/below"})
        EXPECT_FALSE(RecordingSession::folderFault(folder).empty()) << folder;
    EXPECT_EQ(RecordingSession::folderFault(fresh + "/new/below"), "");
}

using RecordingLive = capture_test::VirtualDevices;

// Two live devices; one is unplugged while recording. Both files play, the unplugged one ends
// early, and the points played back are those the live thread computed.
TEST_F(RecordingLive, UnpluggedCameraEndsOnlyItsOwnPlayableRecording)
{
    const auto kept = capture_test::plugInDevice("000000000011");
    const auto lost = capture_test::plugInDevice("000000000012");
    std::vector<std::shared_ptr<AzureKinectReadingThread>> devices;
    for (std::uint32_t index = 0; index < 2; ++index) {
        devices.push_back(std::make_shared<AzureKinectReadingThread>(index));
        ASSERT_TRUE(devices.back()->open());
    }
    const std::string folder = freshFolder();
    RecordingSession session(devices, {folder, true, 0});
    session.start();
    ASSERT_TRUE(capture_test::eventually([&] { return session.framesWritten() >= 10; }));
    k4a_virtual::unplug(lost);
    ASSERT_TRUE(capture_test::eventually([&] { return devices[1]->isStopRequested(); }));
    EXPECT_TRUE(session.poll()) << "the other camera still records";
    // The unplugged camera's file is complete; the other's queue (up to 30 frames) may still be
    // draining: more than that makes sure it captured on after the unplug.
    const std::uint64_t before = session.framesWritten();
    ASSERT_TRUE(capture_test::eventually([&] { return session.framesWritten() >= before + 40; }));
    EXPECT_TRUE(session.stop());

    constexpr float kFloatPrecision = 2.5e-7f; // two units in the last place
    std::uint32_t frames[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        HDF5RecordingReader reader;
        ASSERT_TRUE(reader.open(folder + "/kinect_00000000001" + std::to_string(i + 1) + ".h5", true));
        frames[i] = reader.frameCount();
        ASSERT_GT(frames[i], 0u);
        ASSERT_TRUE(reader.loadFrame(frames[i] - 1));
        const auto liveFrame = devices[i]->holdFrame(); // the kept camera streams on
        const float* live = devices[i]->points();
        for (std::size_t k = 0; k < kPixels; ++k)
            for (int axis = 0; axis < 3; ++axis)
                ASSERT_NEAR(reader.points()[4 * k + axis], live[4 * k + axis], kFloatPrecision * std::fabs(live[4 * k + axis]))
                    << "camera " << i << " pixel " << k;
    }
    EXPECT_LT(frames[1], frames[0]);
    for (const auto& device : devices)
        device->stop();
}

namespace {

// Takes as long per frame as a busy host does, so that devices miss frames.
class SlowSource : public k4a_virtual::FrameSource {
public:
    explicit SlowSource(std::chrono::milliseconds perFrame_) : perFrame(perFrame_) {}
    void render(const k4a_calibration_t&, std::uint64_t, const k4a_virtual::FrameBuffers&) override
    {
        std::this_thread::sleep_for(perFrame);
    }

private:
    std::chrono::milliseconds perFrame;
};

// The system timestamps of `frames` captures of the device at `index`.
std::vector<std::uint64_t> captureInstants(std::uint32_t index, int frames)
{
    std::vector<std::uint64_t> instants;
    k4a_device_t device = nullptr;
    if (K4A_FAILED(k4a_device_open(index, &device)))
        return instants;
    k4a_device_configuration_t config = K4A_DEVICE_CONFIG_INIT_DISABLE_ALL;
    config.depth_mode = K4A_DEPTH_MODE_NFOV_UNBINNED;
    config.camera_fps = K4A_FRAMES_PER_SECOND_30;
    if (K4A_SUCCEEDED(k4a_device_start_cameras(device, &config)))
        for (int f = 0; f < frames; ++f) {
            k4a_capture_t capture = nullptr;
            if (k4a_device_get_capture(device, &capture, K4A_WAIT_INFINITE) != K4A_WAIT_RESULT_SUCCEEDED)
                break;
            k4a_image_t depth = k4a_capture_get_depth_image(capture);
            instants.push_back(k4a_image_get_system_timestamp_nsec(depth));
            k4a_image_release(depth);
            k4a_capture_release(capture);
        }
    k4a_device_stop_cameras(device);
    k4a_device_close(device);
    return instants;
}

} // namespace

// Devices on the sync cable that render at different speeds, all slower than 30 fps, still expose
// the same instants; without the cable each drops other frames.
TEST_F(RecordingLive, DevicesOnTheSyncCableDropTheSameFrames)
{
    constexpr int kFrames = 12;
    for (const bool onCable : {true, false}) {
        k4a_virtual::unplugAll();
        for (const int milliseconds : {45, 60, 80}) {
            auto device = std::make_shared<k4a_virtual::VirtualDevice>(
                "0000000000" + std::to_string(milliseconds), capture_test::realBlob(),
                std::make_shared<SlowSource>(std::chrono::milliseconds(milliseconds)));
            device->onSyncCable = onCable;
            k4a_virtual::plugIn(device);
        }
        std::vector<std::vector<std::uint64_t>> instants(3);
        std::vector<std::thread> threads;
        for (std::uint32_t i = 0; i < 3; ++i)
            threads.emplace_back([&instants, i] { instants[i] = captureInstants(i, kFrames); });
        for (std::thread& thread : threads)
            thread.join();
        ASSERT_EQ(instants[0].size(), static_cast<std::size_t>(kFrames));
        // The devices start a little apart: compare the instants all of them exposed.
        const std::uint64_t first = std::max({instants[0].front(), instants[1].front(), instants[2].front()});
        const std::uint64_t last = std::min({instants[0].back(), instants[1].back(), instants[2].back()});
        std::vector<std::vector<std::uint64_t>> common(3);
        for (int i = 0; i < 3; ++i)
            std::copy_if(instants[i].begin(), instants[i].end(), std::back_inserter(common[i]),
                         [&](std::uint64_t t) { return t >= first && t <= last; });
        ASSERT_GT(common[0].size(), 3u);
        EXPECT_EQ(common[0] == common[1] && common[1] == common[2], onCable) << "on the cable: " << onCable;
    }
}
