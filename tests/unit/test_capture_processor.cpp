// The live depth source over virtual devices: opening, re-scans, faults, records and points.

// Virtual devices exist only in our own SDK layer; against the installed SDK these tests drop out.
#if __has_include(<k4a_virtual/VirtualDevice.h>)
#include "test_capture_support.h"

#include "acquisition/live/AzureKinectCameraProcessor.h"
#include "acquisition/live/AzureKinectReadingThread.h"
#include "acquisition/model/DepthToPoints.h"
#include "acquisition/model/RayTable.h"
#include "app/SetDepthImageSourceAction.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include <k4a/k4a.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

using tavorin::AzureKinectCameraProcessor, tavorin::AzureKinectReadingThread, tavorin::DepthCameraData,
    tavorin::depthToPoints, tavorin::fillRayTable, tavorin::kLiveCameraPoints, tavorin::Mat4, tavorin::monotonicNs,
    tavorin::RayTableY, tavorin::runTimed, tavorin::SceneState, tavorin::SetDepthImageSourceAction,
    tavorin::translate;

using namespace capture_test;

namespace {

constexpr std::int64_t kNsPerSecond = 1000000000;
const char* kNoPowerLine = "Fehler: Kinect 1 konnte nicht gestartet werden. Ist eine Stromversorgung vorhanden?\n";

bool publishedAll(const AzureKinectCameraProcessor& processor)
{
    for (const auto& thread : processor.threads)
        if (!thread->points())
            return false;
    return !processor.threads.empty();
}

// One frame step with the re-scan `secondsAgo` seconds in the past.
void stepWithLastScan(AzureKinectCameraProcessor& processor, SceneState& state, double secondsAgo)
{
    processor.lastScanTime = monotonicNs() - static_cast<std::int64_t>(secondsAgo * kNsPerSecond);
    runTimed(processor, state);
}

std::vector<std::string> recordNames(const SceneState& state)
{
    std::vector<std::string> names;
    for (const auto& record : state.cameras)
        names.push_back(record->sourceName);
    return names;
}

using CaptureProcessor = VirtualDevices;

} // namespace

TEST_F(CaptureProcessor, WithoutDevicesPrintsTheCountAndOnlyTheDestructorLineAndDeliversNothing)
{
    testing::internal::CaptureStdout();
    auto processor = std::make_shared<AzureKinectCameraProcessor>();
    EXPECT_EQ("Found 0 Azure Kinects\n", testing::internal::GetCapturedStdout());
    SceneState state;
    state.cameras.push_back(std::make_shared<DepthCameraData>());
    stepWithLastScan(*processor, state, 5.0);
    EXPECT_TRUE(state.cameras.empty());

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    processor.reset();
    EXPECT_EQ("Destructed Kinect Camera Processor.\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

TEST_F(CaptureProcessor, DeviceWithoutPowerIsRetriedAloneAndTheOtherKeepsStreaming)
{
    const auto powered = plugInDevice("000000000001");
    const auto unpowered = plugInDevice("000000000002");
    unpowered->noPower = true;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    auto processor = std::make_shared<AzureKinectCameraProcessor>();
    ASSERT_TRUE(eventually([&] { return publishedAll(*processor); }));
    SceneState state;
    stepWithLastScan(*processor, state, 0.0);
    ASSERT_EQ(1u, state.cameras.size());
    const DepthCameraData& record = *state.cameras[0];
    EXPECT_EQ("000000000001", record.sourceName);
    EXPECT_EQ("config/cameras/azure/azure_kinect_000000000001.json", record.configPath);
    EXPECT_EQ(640, record.width);
    EXPECT_EQ(576, record.height);
    EXPECT_TRUE(record.hasPointCloud);
    EXPECT_TRUE(record.hasColor);
    EXPECT_EQ(processor->threads[0]->points(), record.points);
    EXPECT_EQ(processor->threads[0]->colors(), record.colors);

    processor->rescanInterval = 0.02f;
    const std::uint64_t framesBefore = powered->framesDelivered.load();
    int rescans = 0;
    std::size_t fewestRecords = 1;
    EXPECT_TRUE(eventually([&] {
        const std::int64_t scannedBefore = processor->lastScanTime;
        runTimed(*processor, state);
        rescans += processor->lastScanTime != scannedBefore;
        fewestRecords = std::min(fewestRecords, state.cameras.size());
        return rescans >= 10 && powered->framesDelivered.load() >= framesBefore + 3;
    }));
    EXPECT_EQ(1u, fewestRecords) << "the working device dropped out";
    unpowered->noPower = false;
    EXPECT_TRUE(eventually([&] { return runTimed(*processor, state), state.cameras.size() == 2; }));
    EXPECT_EQ(1, powered->timesOpened.load()) << "a re-scan restarted the working device";
    processor.reset();
    EXPECT_FALSE(powered->isOpen.load());

    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(1, countOf(out, "Found 2 Azure Kinects\n"));
    EXPECT_EQ(1, countOf(out, "Created Thread for Kinect 1\n"));
    EXPECT_EQ(2, countOf(out, "Try to open kinect 1\n")) << "the first attempt and the opening";
    EXPECT_EQ(2, countOf(out, "Started Azure Kinect Reading thread\n"));
    EXPECT_EQ(2, countOf(out, "Stopped Azure Kinect Reading thread\n"));
    EXPECT_EQ(1, countOf(err, kNoPowerLine)) << err;
    EXPECT_EQ(0, countOf(out, kNoPowerLine));
}

// Device 0 unpowered, 1 running, 2 unpowered; device 0 leaves, so that the running device moves
// to index 0 and the other one, now with power, to index 1.
TEST_F(CaptureProcessor, DevicesThatMoveToOtherIndicesAreEachOpenedOnce)
{
    const auto leaves = plugInDevice("000000000001");
    plugInDevice("000000000002");
    const auto later = plugInDevice("000000000003");
    leaves->noPower = later->noPower = true;
    testing::internal::CaptureStderr();
    auto processor = std::make_shared<AzureKinectCameraProcessor>();
    k4a_virtual::unplug(leaves);
    later->noPower = false;
    SceneState state;
    stepWithLastScan(*processor, state, 3.1);
    EXPECT_TRUE(eventually([&] { return publishedAll(*processor); }));
    stepWithLastScan(*processor, state, 0.0);
    processor.reset();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ((std::vector<std::string>{"000000000002", "000000000003"}), recordNames(state));
    EXPECT_EQ(1, countOf(err, "Fehler: Kinect 0 ")) << "the running device was tried at its new index: " << err;
}

TEST_F(CaptureProcessor, UnpluggedDeviceEndsItsThreadAndItsRecordDisappears)
{
    const auto stays = plugInDevice("000000000001");
    const auto goes = plugInDevice("000000000002");
    testing::internal::CaptureStderr();
    auto processor = std::make_shared<AzureKinectCameraProcessor>();
    ASSERT_EQ(2u, processor->threads.size());
    ASSERT_TRUE(eventually([&] { return publishedAll(*processor); }));
    SceneState state;
    stepWithLastScan(*processor, state, 0.0);
    EXPECT_EQ((std::vector<std::string>{"000000000001", "000000000002"}), recordNames(state));

    k4a_virtual::unplug(goes);
    ASSERT_TRUE(eventually([&] { return processor->threads[1]->isStopRequested(); }));
    EXPECT_FALSE(goes->isOpen.load()) << "the capture thread closes its device";
    stepWithLastScan(*processor, state, 0.0);
    EXPECT_EQ(std::vector<std::string>{"000000000001"}, recordNames(state));
    EXPECT_EQ(1u, processor->threads.size());
    EXPECT_TRUE(stays->isOpen.load());
    processor.reset();
    EXPECT_EQ("Error while reading the capture (try-catch).\n", testing::internal::GetCapturedStderr());
}

namespace {

// A fault a virtual device can be told to have, and the message it must bring.
struct DeviceFault {
    std::atomic<bool> k4a_virtual::VirtualDevice::*fault;
    const char* message;
};

} // namespace

TEST_F(CaptureProcessor, EveryCaptureFaultEndsOnlyItsOwnDeviceWithItsMessage)
{
    const DeviceFault cases[] = {
        {&k4a_virtual::VirtualDevice::captureFails, "Error while reading the capture (try-catch).\n"},
        {&k4a_virtual::VirtualDevice::captureTimesOut, "Error while reading the capture (returned false).\n"},
        {&k4a_virtual::VirtualDevice::omitDepth, "Depth image is null!\n"},
        {&k4a_virtual::VirtualDevice::omitColor, "Color image is null!\n"},
    };
    for (const DeviceFault& c : cases) {
        k4a_virtual::unplugAll();
        const auto healthy = plugInDevice("000000000001");
        const auto faulty = plugInDevice("000000000002");
        testing::internal::CaptureStderr();
        auto processor = std::make_shared<AzureKinectCameraProcessor>();
        ASSERT_TRUE(eventually([&] { return publishedAll(*processor); }));
        ((*faulty).*c.fault).store(true);
        ASSERT_TRUE(eventually([&] { return processor->threads[1]->isStopRequested(); })) << c.message;
        SceneState state;
        stepWithLastScan(*processor, state, 0.0);
        EXPECT_EQ(std::vector<std::string>{"000000000001"}, recordNames(state)) << c.message;
        EXPECT_FALSE(faulty->isOpen.load()) << c.message;
        processor.reset();
        EXPECT_EQ(c.message, testing::internal::GetCapturedStderr());
    }
}

TEST_F(CaptureProcessor, DeviceFailingWhileOpeningIsClosedAndTheOthersRun)
{
    const DeviceFault cases[] = {
        {&k4a_virtual::VirtualDevice::serialFails, "Failed to read device serial number!\n"},
        {&k4a_virtual::VirtualDevice::startFails, "Failed to start cameras!\n"},
        {&k4a_virtual::VirtualDevice::calibrationFails, "Failed to read device calibration!\n"},
    };
    for (const DeviceFault& c : cases) {
        k4a_virtual::unplugAll();
        const auto faulty = plugInDevice("000000000001");
        const auto healthy = plugInDevice("000000000002");
        ((*faulty).*c.fault).store(true);
        testing::internal::CaptureStderr();
        auto processor = std::make_shared<AzureKinectCameraProcessor>();
        EXPECT_EQ(c.message, testing::internal::GetCapturedStderr());
        ASSERT_EQ(1u, processor->threads.size()) << c.message;
        EXPECT_EQ("000000000002", processor->threads[0]->serialNumber());
        EXPECT_FALSE(faulty->isOpen.load()) << c.message;
        ASSERT_TRUE(eventually([&] { return publishedAll(*processor); }));
    }
}

TEST_F(CaptureProcessor, DevicePluggedInLaterIsOpenedByTheNextRescan)
{
    const auto first = plugInDevice("000000000001");
    auto processor = std::make_shared<AzureKinectCameraProcessor>();
    SceneState state;
    const auto later = plugInDevice("000000000002");
    stepWithLastScan(*processor, state, 1.0);
    EXPECT_EQ(1u, processor->threads.size());
    stepWithLastScan(*processor, state, 3.5);
    ASSERT_EQ(2u, processor->threads.size());
    EXPECT_EQ(2, first->timesOpened.load());
    ASSERT_TRUE(eventually([&] { return publishedAll(*processor); }));
    stepWithLastScan(*processor, state, 0.0);
    EXPECT_EQ((std::vector<std::string>{"000000000001", "000000000002"}), recordNames(state));
}

TEST_F(CaptureProcessor, SetModelMatrixReachesTheNamedDeviceFromTheNextFrame)
{
    plugInDevice("000000000001");
    plugInDevice("000000000002");
    auto processor = std::make_shared<AzureKinectCameraProcessor>();
    ASSERT_TRUE(eventually([&] { return publishedAll(*processor); }));
    SceneState state;
    stepWithLastScan(*processor, state, 0.0);
    const auto published = state.cameras;
    const Mat4 moved = translate(Mat4(), 0.5f, 1.25f, -2.0f);
    processor->setModelMatrix("000000000002", moved);
    processor->setModelMatrix("000000000003", translate(Mat4(), 9.0f, 9.0f, 9.0f));
    EXPECT_EQ(Mat4(), published[1]->modelMatrix);
    stepWithLastScan(*processor, state, 0.0);
    ASSERT_EQ(2u, state.cameras.size());
    EXPECT_EQ(Mat4(), state.cameras[0]->modelMatrix);
    EXPECT_EQ(moved, state.cameras[1]->modelMatrix);
}

TEST_F(CaptureProcessor, ConfigurationFileOfTheDeviceIsReadAtOpening)
{
    const char* path = "config/cameras/azure/azure_kinect_0000000cfg01.json";
    {
        std::ofstream file(path);
        file << R"({"modelMatrix": [1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0.25, 2.5, -1.5, 1], "note": 1})";
    }
    plugInDevice("0000000cfg01");
    auto processor = std::make_shared<AzureKinectCameraProcessor>();
    ASSERT_TRUE(eventually([&] { return publishedAll(*processor); }));
    SceneState state;
    stepWithLastScan(*processor, state, 0.0);
    std::remove(path);
    ASSERT_EQ(1u, state.cameras.size());
    const float expected[16] = {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0.25f, 2.5f, -1.5f, 1};
    EXPECT_EQ(Mat4(expected), state.cameras[0]->modelMatrix);
}

// Silent for longer than a wait could be bounded; then stop() must wake the wait. Should it not,
// the test unplugs the device after a second, so that it fails instead of hanging.
TEST_F(CaptureProcessor, SilenceIsNoErrorAndStopReturnsAtOnce)
{
    const auto device = plugInDevice("000000000001");
    AzureKinectReadingThread thread(0);
    ASSERT_TRUE(thread.open());
    ASSERT_TRUE(eventually([&] { return device->framesDelivered.load() >= 1; }));
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    device->goesSilent = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_FALSE(thread.isStopRequested());
    const auto stopping = std::async(std::launch::async, [&] { thread.stop(); });
    EXPECT_EQ(std::future_status::ready, stopping.wait_for(std::chrono::seconds(1))) << "stop() hangs";
    k4a_virtual::unplug(device);
    stopping.wait();
    EXPECT_EQ("Stopped Azure Kinect Reading thread\n", testing::internal::GetCapturedStdout());
    EXPECT_EQ("", testing::internal::GetCapturedStderr()) << "a stop is no capture error";
    EXPECT_FALSE(device->isOpen.load());
}

// Switching back to the live cameras replaces the source and its previous records in one step;
// the previous source's threads are joined when the action drops it.
TEST_F(CaptureProcessor, SwitchingToTheLiveCamerasStartsAFreshSource)
{
    const auto device = plugInDevice("000000000001");
    SceneState state;
    state.enqueue(std::make_shared<SetDepthImageSourceAction>(SetDepthImageSourceAction::kLiveCameras,
                                                              std::vector<std::string>{}));
    state.step();
    const auto* first = dynamic_cast<AzureKinectCameraProcessor*>(state.depthSource.get());
    ASSERT_NE(nullptr, first);
    ASSERT_TRUE(eventually([&] { return publishedAll(*first); }));
    state.step();
    ASSERT_EQ(1u, state.cameras.size());

    testing::internal::CaptureStdout();
    state.enqueue(std::make_shared<SetDepthImageSourceAction>(SetDepthImageSourceAction::kLiveCameras,
                                                              std::vector<std::string>{}));
    state.step();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_LT(out.find("Destructed Kinect Camera Processor.\n"), out.find("Found 1 Azure Kinects\n"))
        << "the old source lets go of the device before the new one opens it: " << out;
    EXPECT_EQ(2, device->timesOpened.load());
    const auto* second = dynamic_cast<AzureKinectCameraProcessor*>(state.depthSource.get());
    ASSERT_NE(nullptr, second);
    ASSERT_EQ(1u, second->threads.size());
    for (const auto& record : state.cameras)
        EXPECT_EQ(second->threads[0]->points(), record->points) << "a record of the new source only";
}

// Points of the pattern's known depth frame against the formula with the layer's own rays, read
// after the capture thread has been joined.
TEST_F(CaptureProcessor, PointsAndColoursOfAKnownFrame)
{
    const auto device = plugInDevice("000000000001");
    AzureKinectReadingThread thread(0);
    ASSERT_TRUE(thread.open());
    ASSERT_TRUE(eventually([&] { return thread.points() && device->framesDelivered.load() >= 2; }));
    thread.stop();
    EXPECT_TRUE(thread.isStopped());

    k4a_calibration_t calibration{};
    std::string blob = realBlob();
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_calibration_get_from_raw(&blob[0], blob.size() + 1,
                                                               K4A_DEPTH_MODE_NFOV_UNBINNED, K4A_COLOR_RESOLUTION_720P,
                                                               &calibration));
    ASSERT_EQ(640, thread.width());
    ASSERT_EQ(576, thread.height());
    std::vector<float> rays(640 * 576 * 2);
    ASSERT_TRUE(fillRayTable(calibration, RayTableY::AsSdk, rays.data()));
    int zeros = 0;
    int coloured = 0;
    for (int r = 0; r < 576; ++r)
        for (int c = 0; c < 640; ++c) {
            const float* point = thread.points() + 4 * (r * 640 + c);
            const std::uint8_t* color = thread.colors() + 4 * (r * 640 + c);
            const std::uint16_t d = PatternSource::depthAt(c, r);
            ASSERT_EQ(0.0f, point[3]);
            const float rayX = rays[2 * (r * 640 + c)];
            const float rayY = rays[2 * (r * 640 + c) + 1];
            if (d == 0 || std::isnan(rayX)) {
                ASSERT_EQ(0.0f, point[0]);
                ASSERT_EQ(0.0f, point[1]);
                ASSERT_EQ(0.0f, point[2]);
                ASSERT_EQ(0, color[0] | color[1] | color[2] | color[3]);
                ++zeros;
                continue;
            }
            const float df = d;
            ASSERT_EQ(df * rayX / -1000.0f, point[0]) << c << ", " << r;
            ASSERT_EQ(df * rayY / -1000.0f, point[1]) << c << ", " << r;
            ASSERT_EQ(df / 1000.0f, point[2]) << c << ", " << r;
            if (std::memcmp(color, PatternSource::kColor, 4) == 0)
                ++coloured;
            else
                ASSERT_EQ(0, color[0] | color[1] | color[2] | color[3]) << c << ", " << r;
        }
    EXPECT_GT(zeros, 640 * 576 / 11 - 640);
    EXPECT_GT(coloured, 640 * 576 / 2) << "most of the depth image lies inside the colour image";
    // The top-left pixel looks 40 degrees left and up: x positive (to the image's left), y positive (up).
    const float* corner = thread.points() + 4 * (1 * 640 + 1);
    EXPECT_GT(corner[0], 0.0f);
    EXPECT_GT(corner[1], 0.0f);
}

TEST(CapturePoints, MissingDepthAndInvalidRaysGiveTheOrigin)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::uint16_t depthMm[4] = {0, 1500, 2000, 1234};
    const float rays[8] = {0.1f, 0.2f, nan, 0.3f, 0.25f, -0.5f, 0.3f, nan};
    float points[16];
    std::fill(points, points + 16, 7.0f);
    depthToPoints(depthMm, rays, 4, points, kLiveCameraPoints);
    const float expected[16] = {0, 0, 0, 0, 0, 0, 0, 0, -0.5f, 1.0f, 2.0f, 0, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(expected[i], points[i]) << i;
}

// Chain 2 -> 1 -> 3: the jacks give the roles and the 160 us spacing, the subordinates start
// before their master, and a subordinate whose cable is pulled streams on alone.
TEST_F(CaptureProcessor, SyncCablesGiveRolesDelaysAndStartOrderAndAPulledCableLeavesItStandalone)
{
    auto first = plugInDevice("000000000001");
    auto master = plugInDevice("000000000002");
    auto last = plugInDevice("000000000003");
    first->syncInCable = true;
    first->syncOutCable = true;
    master->syncOutCable = true;
    last->syncInCable = true;
    testing::internal::CaptureStdout();
    auto processor = std::make_unique<AzureKinectCameraProcessor>();
    ASSERT_EQ(3u, processor->threads.size());
    const struct {
        const std::shared_ptr<k4a_virtual::VirtualDevice>& device;
        k4a_wired_sync_mode_t mode;
        std::uint32_t delayUsec;
    } expected[] = {{first, K4A_WIRED_SYNC_MODE_SUBORDINATE, 160},
                    {master, K4A_WIRED_SYNC_MODE_MASTER, 0},
                    {last, K4A_WIRED_SYNC_MODE_SUBORDINATE, 320}};
    for (const auto& e : expected) {
        EXPECT_EQ(static_cast<int>(e.mode), e.device->startedSyncMode.load()) << e.device->serialNumber;
        EXPECT_EQ(e.delayUsec, e.device->startedSubordinateDelayUsec.load()) << e.device->serialNumber;
    }
    EXPECT_LT(first->startSequence.load(), master->startSequence.load());
    EXPECT_LT(last->startSequence.load(), master->startSequence.load());
    EXPECT_EQ("synchronised, 2 subordinates", processor->syncMode());

    last->syncInCable = false;
    SceneState state;
    stepWithLastScan(*processor, state, 10.0);
    EXPECT_EQ(static_cast<int>(K4A_WIRED_SYNC_MODE_STANDALONE), last->startedSyncMode.load());
    const std::uint64_t framesBefore = last->framesDelivered.load();
    EXPECT_TRUE(eventually([&] { return last->framesDelivered.load() > framesBefore + 2; }));
    EXPECT_EQ("synchronised, 1 subordinate", processor->syncMode());
    processor.reset();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(1, countOf(out, "Wired sync: master 000000000002, subordinates 000000000001 (+160 us) 000000000003 (+320 us)\n"))
        << out;
    EXPECT_EQ(1, countOf(out, "Wired sync: 000000000003 lost its sync-in cable; it continues standalone\n"));
}

// Each system timestamp comes up to 4 ms late, as USB latency makes it: the members of a chain are
// still placed on the host clock by one origin, so the capture times of one round differ by exactly
// the subordinates' delays.
TEST_F(CaptureProcessor, ChainCaptureTimesDifferByExactlyTheDelaysDespiteSystemTimestampLatency)
{
    constexpr double kSameRound = 0.002; // seconds; rounds are 33 ms apart
    constexpr double kTolerance = 5e-6;  // seconds
    const struct {
        const char* serial;
        bool syncIn, syncOut;
        double afterMasterSeconds;
    } chain[] = {{"000000000001", false, true, 0.0},
                 {"000000000002", true, true, 160e-6},
                 {"000000000003", true, false, 320e-6}};
    for (const auto& member : chain) {
        auto device = makeDevice(member.serial);
        device->onSyncCable = true;
        device->syncInCable = member.syncIn;
        device->syncOutCable = member.syncOut;
        device->systemTimestampLatency = std::chrono::microseconds(4000);
        k4a_virtual::plugIn(device);
    }
    testing::internal::CaptureStdout();
    auto processor = std::make_unique<AzureKinectCameraProcessor>();
    SceneState state;
    std::vector<double> round;
    const bool heldOneRound = eventually([&] {
        runTimed(*processor, state);
        processor->holdFrames(state);
        round.clear();
        for (const auto& record : state.cameras)
            if (record->timestamp)
                round.push_back(*record->timestamp);
        processor->releaseFrames();
        return round.size() == std::size(chain)
            && *std::max_element(round.begin(), round.end()) - *std::min_element(round.begin(), round.end()) < kSameRound;
    });
    processor.reset();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(heldOneRound);
    for (std::size_t i = 0; i < std::size(chain); ++i)
        EXPECT_NEAR(chain[i].afterMasterSeconds, round[i] - round[0], kTolerance) << chain[i].serial;
}

// A chain's capture threads publish a moment apart. Here each device renders a frame only when the
// test lets it: the master publishes a capture while the other device still shows the previous
// one, and holding waits until that device publishes the same capture too.
TEST_F(CaptureProcessor, HoldingASyncChainWaitsForItsLateMember)
{
    class GatedSource : public PatternSource {
    public:
        void render(const k4a_calibration_t& calibration, std::uint64_t index, const k4a_virtual::FrameBuffers& frame) override
        {
            {
                std::unique_lock<std::mutex> lock(mutex);
                waitingFrameSeconds = static_cast<double>(frame.systemTimestampNsec) * 1e-9;
                waiting = true;
                changed.wait(lock, [this] { return free || permits > 0; });
                permits -= free ? 0 : 1;
                waiting = false;
            }
            PatternSource::render(calibration, index, frame);
        }
        // The capture time of the frame the device waits to render; empty while it does not wait.
        std::optional<double> waitingFor()
        {
            std::lock_guard<std::mutex> lock(mutex);
            return waiting && !free && permits == 0 ? std::optional<double>(waitingFrameSeconds) : std::nullopt;
        }
        void setFree(bool value) { change([&] { free = value; }); }
        void allowOne() { change([&] { ++permits; }); }

    private:
        void change(const std::function<void()>& f)
        {
            {
                std::lock_guard<std::mutex> lock(mutex);
                f();
            }
            changed.notify_all();
        }
        std::mutex mutex;
        std::condition_variable changed;
        bool free = true;
        int permits = 0;
        bool waiting = false;
        double waitingFrameSeconds = 0.0;
    };
    const auto masterGate = std::make_shared<GatedSource>();
    const auto lateGate = std::make_shared<GatedSource>();
    auto master = std::make_shared<k4a_virtual::VirtualDevice>("000000000001", realBlob(), masterGate);
    auto late = std::make_shared<k4a_virtual::VirtualDevice>("000000000002", realBlob(), lateGate);
    late->onSyncCable = master->onSyncCable = true;
    master->syncOutCable = late->syncInCable = true;
    k4a_virtual::plugIn(master);
    k4a_virtual::plugIn(late);
    testing::internal::CaptureStdout();
    auto processor = std::make_unique<AzureKinectCameraProcessor>();
    processor->lineUpWait = std::chrono::seconds(10); // however slow the host, the wait is for the device
    const std::shared_ptr<void> freeAtTheEnd(nullptr, [&](void*) {
        masterGate->setFree(true);
        lateGate->setFree(true);
    });
    const auto seconds = [&](std::size_t i) { return processor->threads[i]->captureSeconds().value_or(0.0); };
    ASSERT_TRUE(eventually([&] { return publishedAll(*processor) && seconds(0) > 0.0 && seconds(1) > 0.0; }));

    // Both wait before the same frame; the master alone publishes it.
    masterGate->setFree(false);
    lateGate->setFree(false);
    ASSERT_TRUE(eventually([&] {
        const std::optional<double> m = masterGate->waitingFor();
        const std::optional<double> l = lateGate->waitingFor();
        if (m && l && *m < *l - 0.0005)
            masterGate->allowOne();
        else if (m && l && *l < *m - 0.0005)
            lateGate->allowOne();
        return m && l && std::fabs(*m - *l) < 0.0005;
    }));
    const double frame = *masterGate->waitingFor();
    masterGate->allowOne();
    ASSERT_TRUE(eventually([&] { return std::fabs(seconds(0) - frame) < 0.0005; }));
    ASSERT_LT(seconds(1), frame - 0.0005);

    SceneState state;
    runTimed(*processor, state);
    ASSERT_EQ(2u, state.cameras.size());
    // Held and given back on one thread, as the render thread does.
    auto gap = std::async(std::launch::async, [&] {
        processor->holdFrames(state);
        const double apart = std::fabs(*state.cameras[0]->timestamp - *state.cameras[1]->timestamp);
        processor->releaseFrames();
        return apart;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lateGate->allowOne();
    EXPECT_LE(gap.get(), 0.001 + 160e-6);
    masterGate->setFree(true);
    lateGate->setFree(true);
    processor.reset();
    testing::internal::GetCapturedStdout();
}

// After a cycle, cameras that capture apart are held again at every camera's next capture, the
// frame after the one held before; a wired chain has no use for it.
TEST_F(CaptureProcessor, NextFramesOfStandaloneCamerasAreTheCapturesAfterTheHeldOnes)
{
    constexpr double kFramePeriod = 1.0 / 30.0;
    for (const bool wired : {false, true}) {
        k4a_virtual::unplugAll();
        auto first = makeDevice("000000000001");
        auto second = makeDevice("000000000002");
        second->phaseOffset = std::chrono::microseconds(11000);
        first->syncOutCable = second->syncInCable = wired;
        first->onSyncCable = second->onSyncCable = wired;
        k4a_virtual::plugIn(first);
        k4a_virtual::plugIn(second);
        testing::internal::CaptureStdout();
        auto processor = std::make_unique<AzureKinectCameraProcessor>();
        processor->nextFramesWait = std::chrono::seconds(10); // however slow the host
        ASSERT_TRUE(eventually([&] {
            return publishedAll(*processor)
                && std::all_of(processor->threads.begin(), processor->threads.end(),
                               [](const auto& thread) { return thread->captureSeconds().has_value(); });
        }));
        SceneState state;
        runTimed(*processor, state);
        processor->holdFrames(state);
        const double before[2] = {*state.cameras[0]->timestamp, *state.cameras[1]->timestamp};
        processor->releaseFrames();
        const bool heldNext = processor->holdNextFrames(state);
        const double after[2] = {state.cameras[0]->timestamp.value_or(0.0), state.cameras[1]->timestamp.value_or(0.0)};
        processor->releaseFrames();
        processor.reset();
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(!wired, heldNext);
        // The next capture, or a later one on a host too slow for every frame.
        for (int i = 0; i < 2 && heldNext; ++i)
            EXPECT_GT(after[i], before[i] + kFramePeriod / 2) << "camera " << i;
    }
}

#endif
