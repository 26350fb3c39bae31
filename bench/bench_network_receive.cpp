// The network source's receive path against the recording path, on frames of a sample recording:
// per frame, decoding the compressedDepth message and making the points, beside the recording
// reader's frame-to-points (reading, inflating and making the points of one frame) timed in the
// same iterations; and the latency from publishing three cameras' frames at 30 fps to their points
// being ready in the source, over DDS on the loopback interface (CYCLONEDDS_URI as the tests set
// it; this program sets it to the tests' file when it is unset).

#include "acquisition/model/DepthToPoints.h"
#include "acquisition/recording/HDF5RecordingReader.h"
#include "network/ros/CameraInfoModel.h"
#include "network/codec/CompressedDepth.h"
#include "network/ros/DepthPublisher.h"
#include "network/ros/NetworkDepthSource.h"
#include "network/ros/RosDomain.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tavorin;

namespace {

constexpr const char* kSample = TAVORIN_SOURCE_DIR "/samples/OP1/kinect_000135193412.h5";
constexpr std::uint32_t kFrames = 30;

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// A sample recording, its frames' depths and its camera model as a publisher would send them.
struct SampleFrames {
    std::unique_ptr<HDF5RecordingReader> reader = std::make_unique<HDF5RecordingReader>();
    std::vector<std::vector<std::uint16_t>> depthMm;
    CameraInfoFields model;
    bool ok = false;

    SampleFrames()
    {
        if (!reader->open(kSample, false))
            return;
        for (std::uint32_t f = 0; f < kFrames && f < reader->frameCount(); ++f) {
            if (!reader->loadFrame(f))
                return;
            depthMm.emplace_back();
            reader->loadedDepthMm(depthMm.back());
        }
        const std::vector<float> row = reader->cameraParameterRow();
        // k1..k6 at 4..9, p2 at 12, p1 at 13; ROS's order is k1 k2 p1 p2 k3 k4 k5 k6.
        model = rationalPolynomialInfo(reader->width(), reader->height(), row[2], row[3], row[0] - 0.5, row[1] - 0.5,
                                       {row[4], row[5], row[13], row[12], row[6], row[7], row[8], row[9]});
        ok = !depthMm.empty();
    }
};

SampleFrames& samples()
{
    static SampleFrames frames;
    return frames;
}

// Decoding a compressedDepth message and making its points, beside the recording reader's
// frame-to-points of the same frames.
void BM_ReceivePath(benchmark::State& state)
{
    SampleFrames& frames = samples();
    if (!frames.ok) {
        state.SkipWithError("no sample recording: run build/tavorin-samples");
        return;
    }
    std::vector<std::vector<std::uint8_t>> messages;
    for (const auto& depth : frames.depthMm)
        messages.push_back(encodeCompressedDepthRvl(depth.data(), frames.model.width, frames.model.height));
    const std::vector<float> rays = unitDepthRays(frames.model);
    std::vector<float> points(std::size_t(frames.model.width) * frames.model.height * 4);
    DecodedDepth decoded;
    double receive = 0.0;
    double recording = 0.0;
    std::uint32_t f = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        decodeCompressedDepth(kCompressedDepthRvlFormat, messages[f].data(), messages[f].size(), 4096, decoded);
        depthToPoints(decoded.depthMm.data(), rays.data(), decoded.depthMm.size(), points.data(), kLiveCameraPoints);
        const auto decodedAt = std::chrono::steady_clock::now();
        frames.reader->loadFrame((f + 1) % static_cast<std::uint32_t>(messages.size()));
        const auto loadedAt = std::chrono::steady_clock::now();
        receive += seconds(decodedAt - start);
        recording += seconds(loadedAt - decodedAt);
        f = (f + 1) % static_cast<std::uint32_t>(messages.size());
    }
    state.counters["receive_ms"] = 1000.0 * receive / static_cast<double>(state.iterations());
    state.counters["vs_recording_path"] = receive / recording;
}

// Three cameras published at 30 fps in this process; the median and the 95th percentile of the
// time from handing a frame to DDS to its points being ready in the source.
void BM_LoopbackLatency(benchmark::State& state)
{
    SampleFrames& frames = samples();
    if (!frames.ok) {
        state.SkipWithError("no sample recording: run build/tavorin-samples");
        return;
    }
    constexpr int kCameras = 3;
    constexpr auto kPeriod = std::chrono::microseconds(33333);
    std::mutex mutex;
    std::map<double, std::chrono::steady_clock::time_point> sent; // by stamp
    std::vector<double> latencies;
    for (auto _ : state) {
        RosDomain domain;
        NetworkDepthSource source([&](const std::string&, const CameraInfoFields&, const std::uint16_t*, double stamp,
                                      const std::string&) {
            const auto now = std::chrono::steady_clock::now();
            std::lock_guard<std::mutex> lock(mutex);
            const auto at = sent.find(stamp);
            if (at != sent.end())
                latencies.push_back(seconds(now - at->second));
        });
        std::vector<std::unique_ptr<DepthPublisher>> publishers;
        for (int c = 0; c < kCameras; ++c)
            publishers.push_back(std::make_unique<DepthPublisher>(domain, "bench/cam" + std::to_string(c), frames.model));
        const auto waitStart = std::chrono::steady_clock::now();
        while (source.cameraNames().size() < kCameras && seconds(std::chrono::steady_clock::now() - waitStart) < 10.0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (int k = 0; k < 90; ++k) {
            const auto tick = std::chrono::steady_clock::now();
            for (int c = 0; c < kCameras; ++c) {
                const double stamp = 1000.0 * c + k;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    sent[stamp] = std::chrono::steady_clock::now();
                }
                publishers[static_cast<std::size_t>(c)]->publish(frames.depthMm[static_cast<std::size_t>(k) % frames.depthMm.size()].data(),
                                                                 stamp);
            }
            std::this_thread::sleep_until(tick + kPeriod);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (latencies.empty()) {
        state.SkipWithError("no frame arrived");
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_ms"] = 1000.0 * latencies[latencies.size() / 2];
    state.counters["p95_ms"] = 1000.0 * latencies[latencies.size() * 95 / 100];
    state.counters["frames"] = static_cast<double>(latencies.size());
}

} // namespace

BENCHMARK(BM_ReceivePath)->Iterations(120)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoopbackLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    setenv("CYCLONEDDS_URI", "file://" TAVORIN_SOURCE_DIR "/tests/network/cyclonedds-loopback.xml", 0);
    setenv("ROS_DOMAIN_ID", std::to_string(201 + ::getpid() % 30).c_str(), 0);
    HDF5RecordingReader::silenceLibraryErrors();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
