// Recording: the writer's cost per frame at each deflate level against a memcpy of the frame, as
// the share of one core it takes per camera at 30 fps; the bytes per frame and the compression
// ratio; and the frame load of a recorded file against that of a sample recording.
#include "acquisition/recording/HDF5RecordingReader.h"
#include "acquisition/recording/HDF5RecordingWriter.h"

#include <hdf5.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

using tavorin::HDF5RecordingReader, tavorin::HDF5RecordingWriter;

namespace {

constexpr hsize_t kWidth = 640;
constexpr hsize_t kHeight = 576;
constexpr std::size_t kPixels = kWidth * kHeight;
constexpr hsize_t kFrames = 30;
constexpr double kFps = 30.0;
constexpr const char* kSample = TAVORIN_SOURCE_DIR "/samples/OP1/kinect_000135193412.h5";

struct SampleFrames {
    std::vector<std::uint16_t> depth; // kFrames frames back to back
    std::vector<std::uint8_t> bgra;
    bool ok = false;
};

bool readFrames(hid_t file, const char* name, hid_t memType, std::vector<hsize_t> frameCount, void* out,
                std::size_t frameBytes)
{
    const hid_t set = H5Dopen2(file, name, H5P_DEFAULT);
    if (set < 0)
        return false;
    const hid_t fileSpace = H5Dget_space(set);
    const hid_t memSpace = H5Screate_simple(static_cast<int>(frameCount.size()), frameCount.data(), nullptr);
    std::vector<hsize_t> start(frameCount.size(), 0);
    bool read = true;
    for (hsize_t f = 0; f < kFrames && read; ++f) {
        start.back() = f;
        H5Sselect_hyperslab(fileSpace, H5S_SELECT_SET, start.data(), nullptr, frameCount.data(), nullptr);
        read = H5Dread(set, memType, memSpace, fileSpace, H5P_DEFAULT, static_cast<std::uint8_t*>(out) + f * frameBytes) >= 0;
    }
    H5Sclose(memSpace);
    H5Sclose(fileSpace);
    H5Dclose(set);
    return read;
}

// The first 30 frames of a sample recording, as a camera would hand them over.
const SampleFrames& sampleFrames()
{
    static const SampleFrames frames = [] {
        SampleFrames result;
        result.depth.resize(kPixels * kFrames);
        result.bgra.resize(kPixels * 4 * kFrames);
        const hid_t file = H5Fopen(kSample, H5F_ACC_RDONLY, H5P_DEFAULT);
        if (file < 0)
            return result;
        result.ok = readFrames(file, "/depth_measure_z_0", H5T_NATIVE_UINT16, {kHeight, kWidth, 1}, result.depth.data(),
                               kPixels * 2)
            && readFrames(file, "/color_measure_0", H5T_NATIVE_UINT8, {kHeight, kWidth, 4, 1}, result.bgra.data(),
                          kPixels * 4);
        H5Fclose(file);
        return result;
    }();
    return frames;
}

std::string benchFolder()
{
    const std::string folder = "/tmp/tavorin_bench_recording_" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);
    return folder;
}

// A real device's raw calibration, so that recorded frames take the calibrated path as the
// samples do.
std::string rawCalibration()
{
    std::ifstream in(TAVORIN_SOURCE_DIR "/tests/fixtures/azure_kinect_raw_calibration_001514394512.json",
                     std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

HDF5RecordingWriter::Layout layout()
{
    HDF5RecordingWriter::Layout result;
    result.rawCalibration = rawCalibration();
    result.width = kWidth;
    result.height = kHeight;
    result.cameraParameters = {332.8f, 348.8f, 504.6f, 504.7f};
    return result;
}

// Seconds per frame of a memcpy of the frame's depth and colour, measured once.
double memcpySecondsPerFrame()
{
    static const double seconds = [] {
        const SampleFrames& frames = sampleFrames();
        std::vector<std::uint8_t> target(kPixels * 6);
        constexpr int kRounds = 200;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kRounds; ++i) {
            const std::size_t f = static_cast<std::size_t>(i) % kFrames;
            std::memcpy(target.data(), frames.depth.data() + f * kPixels, kPixels * 2);
            std::memcpy(target.data() + kPixels * 2, frames.bgra.data() + f * kPixels * 4, kPixels * 4);
            benchmark::DoNotOptimize(target.data());
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kRounds;
    }();
    return seconds;
}

// One recording of the 30 frames per iteration; the counters are per frame.
void BM_WriteRecording(benchmark::State& state)
{
    const SampleFrames& frames = sampleFrames();
    if (!frames.ok) {
        state.SkipWithError("no sample recording: run build/tavorin-samples");
        return;
    }
    const int level = static_cast<int>(state.range(0));
    const std::string path = benchFolder() + "/kinect_level" + std::to_string(level) + ".h5";
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        std::filesystem::remove(path);
        HDF5RecordingWriter writer(level, level);
        writer.create(path, layout());
        for (hsize_t f = 0; f < kFrames; ++f)
            writer.append(frames.depth.data() + f * kPixels, frames.bgra.data() + f * kPixels * 4, f / kFps);
        bytes = writer.bytesWritten();
        writer.finish();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kFrames));
    state.counters["bytes_per_frame"] = static_cast<double>(bytes) / kFrames;
    state.counters["compression_ratio"] = static_cast<double>(kPixels * 6 * kFrames) / static_cast<double>(bytes);
    // Inverted rates: the time per iteration divided by the value given.
    const auto kTimeOver = benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert;
    state.counters["vs_memcpy"] = benchmark::Counter(kFrames * memcpySecondsPerFrame(), kTimeOver);
    // The share of one core per camera at 30 fps: an iteration writes one second of frames.
    state.counters["core_share_30fps"] = benchmark::Counter(static_cast<double>(kFrames) / kFps, kTimeOver);
    std::filesystem::remove(path);
}
BENCHMARK(BM_WriteRecording)->Arg(1)->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond)->UseRealTime();

// Loads frame after frame of `path`; the counter compares with the same loads of the sample.
void loadFrames(benchmark::State& state, const std::string& path)
{
    HDF5RecordingReader::silenceLibraryErrors();
    HDF5RecordingReader reader;
    if (!reader.open(path, true)) {
        state.SkipWithError("cannot open the recording");
        return;
    }
    std::uint32_t frame = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(reader.loadFrame(frame));
        frame = (frame + 1) % std::min<std::uint32_t>(reader.frameCount(), kFrames);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// Seconds per frame load of the sample recording, measured once.
double sampleLoadSeconds()
{
    static const double seconds = [] {
        HDF5RecordingReader::silenceLibraryErrors();
        HDF5RecordingReader reader;
        if (!reader.open(kSample, true))
            return 0.0;
        constexpr std::uint32_t kLoads = 60;
        const auto start = std::chrono::steady_clock::now();
        for (std::uint32_t i = 0; i < kLoads; ++i)
            reader.loadFrame(i % std::min<std::uint32_t>(reader.frameCount(), kFrames));
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kLoads;
    }();
    return seconds;
}

void BM_LoadSampleFrame(benchmark::State& state)
{
    loadFrames(state, kSample);
}
BENCHMARK(BM_LoadSampleFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadRecordedFrame(benchmark::State& state)
{
    const SampleFrames& frames = sampleFrames();
    const std::string path = benchFolder() + "/kinect_000000000001.h5";
    std::filesystem::remove(path);
    {
        HDF5RecordingWriter writer;
        writer.create(path, layout());
        for (hsize_t f = 0; f < kFrames; ++f)
            writer.append(frames.depth.data() + f * kPixels, frames.bgra.data() + f * kPixels * 4, f / kFps);
        writer.finish();
    }
    loadFrames(state, path);
    state.counters["vs_sample"] = benchmark::Counter(
        sampleLoadSeconds(), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadRecordedFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
