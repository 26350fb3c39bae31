// Live capture: the capture thread's point conversion of one 640 x 576 frame beside a memcpy of
// the same output bytes, and the render thread's process() with three virtual devices streaming
// the room beside building the same three records by hand.
#include "acquisition/live/AzureKinectCameraProcessor.h"
#include "acquisition/live/AzureKinectReadingThread.h"
#include "acquisition/model/DepthToPoints.h"
#include "acquisition/model/RayTable.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include <k4a/k4a.h>
#include <k4a_virtual/RoomScene.h>
#include <k4a_virtual/VirtualDevice.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <thread>
#include <vector>

using tavorin::AzureKinectCameraProcessor, tavorin::DepthCameraData, tavorin::depthToPoints, tavorin::fillRayTable,
    tavorin::kLiveCameraPoints, tavorin::monotonicNs, tavorin::runTimed,
    tavorin::SceneState;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 576;
constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;

std::string realBlob()
{
    std::ifstream in(TAVORIN_SOURCE_DIR "/tests/fixtures/azure_kinect_raw_calibration_001514394512.json",
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

k4a_calibration_t realCalibration()
{
    std::string blob = realBlob();
    k4a_calibration_t calibration{};
    if (K4A_FAILED(k4a_calibration_get_from_raw(&blob[0], blob.size() + 1, K4A_DEPTH_MODE_NFOV_UNBINNED,
                                                K4A_COLOR_RESOLUTION_720P, &calibration)))
        std::cerr << "cannot read the calibration fixture" << std::endl;
    return calibration;
}

struct ConversionInput {
    std::vector<std::uint16_t> depthMm;
    std::vector<float> xyTable;
};

// The real device's rays and a frame of depths between 0.5 and 3.5 m with 5 % holes.
const ConversionInput& conversionInput()
{
    static const ConversionInput input = [] {
        ConversionInput in;
        in.xyTable.resize(kPixels * 2);
        if (!fillRayTable(realCalibration(), kLiveCameraPoints.tableY, in.xyTable.data()))
            std::cerr << "cannot convert the calibration fixture's pixels" << std::endl;
        in.depthMm.resize(kPixels);
        for (std::size_t k = 0; k < kPixels; ++k)
            in.depthMm[k] = (k * 2654435761u) % 20 == 0 ? 0 : static_cast<std::uint16_t>(500 + (k * 7) % 3000);
        return in;
    }();
    return input;
}

void BM_PointConversion(benchmark::State& state)
{
    const ConversionInput& in = conversionInput();
    std::vector<float> points(kPixels * 4);
    for (auto _ : state) {
        depthToPoints(in.depthMm.data(), in.xyTable.data(), kPixels, points.data(), kLiveCameraPoints);
        benchmark::DoNotOptimize(points.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * points.size() * sizeof(float)));
}
BENCHMARK(BM_PointConversion);

void BM_MemcpyOfThePointBytes(benchmark::State& state)
{
    std::vector<float> source(kPixels * 4, 1.0f);
    std::vector<float> target(kPixels * 4);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), target.size() * sizeof(float));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * target.size() * sizeof(float)));
}
BENCHMARK(BM_MemcpyOfThePointBytes);

// Three cameras around the operating table, 2 m up.
std::vector<std::shared_ptr<k4a_virtual::VirtualDevice>> plugInThreeRoomDevices()
{
    using Point = k4a_virtual::RoomScene::Point;
    const Point positions[3] = {{-2.2f, 2.0f, -2.0f}, {2.2f, 1.8f, -2.0f}, {0.0f, 2.2f, 2.5f}};
    const char* serials[3] = {"000000000011", "000000000012", "000000000013"};
    std::vector<std::shared_ptr<k4a_virtual::VirtualDevice>> devices;
    for (int i = 0; i < 3; ++i) {
        auto scene = std::make_shared<k4a_virtual::RoomScene>(positions[i], Point{0.0f, 0.9f, 0.0f});
        devices.push_back(std::make_shared<k4a_virtual::VirtualDevice>(serials[i], realBlob(), scene));
        k4a_virtual::plugIn(devices.back());
    }
    return devices;
}

// Three devices streaming the room into one processor, made once for every run of the benchmark.
struct StreamingRoom {
    std::vector<std::shared_ptr<k4a_virtual::VirtualDevice>> devices = plugInThreeRoomDevices();
    AzureKinectCameraProcessor processor;

    ~StreamingRoom() { k4a_virtual::unplugAll(); }

    bool published() const
    {
        constexpr auto kLimit = std::chrono::seconds(60);
        const auto end = std::chrono::steady_clock::now() + kLimit;
        for (;;) {
            bool all = !processor.threads.empty();
            for (const auto& thread : processor.threads)
                all = all && thread->points();
            if (all || std::chrono::steady_clock::now() > end)
                return all;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::uint64_t framesDelivered() const
    {
        std::uint64_t frames = 0;
        for (const auto& device : devices)
            frames += device->framesDelivered.load();
        return frames;
    }
};

std::unique_ptr<StreamingRoom> streamingRoom;

void BM_ProcessWithThreeDevicesStreaming(benchmark::State& state)
{
    if (!streamingRoom)
        streamingRoom = std::make_unique<StreamingRoom>();
    if (!streamingRoom->published()) {
        state.SkipWithError("the devices did not publish");
        return;
    }
    AzureKinectCameraProcessor& processor = streamingRoom->processor;
    const std::uint64_t framesBefore = streamingRoom->framesDelivered();
    const auto start = std::chrono::steady_clock::now();
    SceneState scene;
    for (auto _ : state) {
        processor.lastScanTime = monotonicNs();
        runTimed(processor, scene);
        benchmark::DoNotOptimize(scene.cameras.data());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.counters["records"] = static_cast<double>(scene.cameras.size());
    state.counters["capture_fps_per_device"] =
        static_cast<double>(streamingRoom->framesDelivered() - framesBefore) / seconds / 3.0;
}
BENCHMARK(BM_ProcessWithThreeDevicesStreaming)->MinTime(3.0)->Unit(benchmark::kMicrosecond);

// The irreducible part of process(): three records made and shared.
void BM_ThreeRecordsByHand(benchmark::State& state)
{
    SceneState scene;
    for (auto _ : state) {
        scene.cameras.clear();
        for (int i = 0; i < 3; ++i) {
            DepthCameraData record;
            record.sourceName = "000000000011";
            record.configPath = "config/cameras/azure/azure_kinect_000000000011.json";
            scene.cameras.push_back(std::make_shared<DepthCameraData>(record));
        }
        benchmark::DoNotOptimize(scene.cameras.data());
    }
}
BENCHMARK(BM_ThreeRecordsByHand)->Unit(benchmark::kMicrosecond);

// Keeps every run's CPU time per iteration (the machine may be shared) and prints the two ratios
// after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            nsPerIteration[run.benchmark_name()] = run.GetAdjustedCPUTime()
                * (run.time_unit == benchmark::kMicrosecond ? 1000.0 : 1.0);
    }
    void printRatio(const std::string& label, const std::string& measured, const std::string& baseline) const
    {
        const auto m = nsPerIteration.find(measured);
        const auto b = nsPerIteration.find(baseline);
        if (m != nsPerIteration.end() && b != nsPerIteration.end())
            std::cout << label << ": " << m->second / b->second << " x" << std::endl;
    }

private:
    std::map<std::string, double> nsPerIteration;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    streamingRoom.reset();
    reporter.printRatio("point conversion / memcpy of its bytes", "BM_PointConversion", "BM_MemcpyOfThePointBytes");
    reporter.printRatio("process with three devices / three records by hand",
                        "BM_ProcessWithThreeDevicesStreaming/min_time:3.000", "BM_ThreeRecordsByHand");
    return 0;
}
