// Recording live devices: the files play back through the reader, after a full disk and an
// unplugged camera too; the queue counts what it cannot hold; unusable folders are refused.
#include "acquisition/AzureKinectReadingThread.h"
#include "acquisition/CameraRecorder.h"
#include "acquisition/HDF5RecordingReader.h"
#include "acquisition/HDF5RecordingWriter.h"
#include "acquisition/RecordingSession.h"
#include "test_capture_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <cstdlib>
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

// The recorder's time axis: each device's clock placed on the host clock by its first frame taken.
TEST(Recording, RecorderPutsDeviceClocksOnTheHostAxisAndCountsDrops)
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
            recorder.onFrame({depths[f].data(), bgra.data(), kWidth, kHeight, deviceUsec,
                              c.firstSystemNs + static_cast<std::uint64_t>(f) * 1'000'000'000 / 30});
        }
        ASSERT_TRUE(recorder.finish()) << recorder.error();
        EXPECT_GT(recorder.framesDropped(), 0u) << "a queue of one frame held 40 frames given at once";
        EXPECT_EQ(recorder.framesWritten() + recorder.framesDropped(), static_cast<std::uint64_t>(kFrames));
        HDF5RecordingReader reader;
        ASSERT_TRUE(reader.open(settings.path, false));
        ASSERT_EQ(reader.frameCount(), recorder.framesWritten());
        EXPECT_NEAR(reader.timestampAt(0), c.firstSeconds, 1e-9);
        for (std::uint32_t i = 1; i < reader.frameCount(); ++i)
            EXPECT_GT(reader.timestampAt(i), reader.timestampAt(i - 1));
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
    const std::uint64_t before = session.framesWritten();
    ASSERT_TRUE(capture_test::eventually([&] { return session.framesWritten() >= before + 5; }));
    EXPECT_TRUE(session.stop());

    constexpr float kFloatPrecision = 2.5e-7f; // two units in the last place
    std::uint32_t frames[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        HDF5RecordingReader reader;
        ASSERT_TRUE(reader.open(folder + "/kinect_00000000001" + std::to_string(i + 1) + ".h5", true));
        frames[i] = reader.frameCount();
        ASSERT_GT(frames[i], 0u);
        ASSERT_TRUE(reader.loadFrame(frames[i] - 1));
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
