// Recording playback: frame loads from chunked and contiguous files, the calibrated point
// conversion against a memcpy of its output, and three sample recordings played in step.
#include "acquisition/model/DepthToPoints.h"
#include "acquisition/recording/HDF5CameraProcessor.h"
#include "acquisition/recording/HDF5RecordingReader.h"

#include <hdf5.h>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

using tavorin::depthToPoints, tavorin::HDF5CameraProcessor, tavorin::HDF5RecordingReader,
    tavorin::kRecordingPoints;

namespace {

constexpr hsize_t kWidth = 640;
constexpr hsize_t kHeight = 576;
constexpr hsize_t kFrames = 30;
constexpr std::size_t kPixels = kWidth * kHeight;

std::string benchPath(const std::string& name)
{
    return "/tmp/tavorin_bench_" + std::to_string(::getpid()) + "_" + name;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeSet(hid_t file, const char* name, hid_t fileType, hid_t memType, std::vector<hsize_t> dims,
              const void* data, bool chunked)
{
    const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
    const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
    if (chunked) {
        std::vector<hsize_t> chunk = dims;
        chunk[dims.size() == 2 ? 0 : dims.size() - 1] = 1;
        H5Pset_chunk(properties, static_cast<int>(chunk.size()), chunk.data());
        H5Pset_shuffle(properties);
        H5Pset_deflate(properties, 1);
    }
    const hid_t set = H5Dcreate2(file, name, fileType, space, H5P_DEFAULT, properties, H5P_DEFAULT);
    H5Dwrite(set, memType, H5S_ALL, H5S_ALL, H5P_DEFAULT, data);
    H5Dclose(set);
    H5Pclose(properties);
    H5Sclose(space);
}

// A recording like the samples (floor-like depth with 1.5 mm noise, tiled colour, the raw
// calibration of a real device), stored chunked and compressed or contiguous.
std::string writeRecording(bool chunked)
{
    const std::string path = benchPath(chunked ? "chunked.h5" : "contiguous.h5");
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.5);
    std::vector<std::uint16_t> depth(kPixels * kFrames);
    std::vector<std::uint8_t> colour(kPixels * 4 * kFrames);
    for (hsize_t r = 0; r < kHeight; ++r)
        for (hsize_t c = 0; c < kWidth; ++c)
            for (hsize_t f = 0; f < kFrames; ++f) {
                const double z = r < 200 ? 0.0 : 3800.0 - 4.0 * static_cast<double>(r) + noise(rng);
                depth[(r * kWidth + c) * kFrames + f] = static_cast<std::uint16_t>(z);
                for (hsize_t ch = 0; ch < 4; ++ch)
                    colour[((r * kWidth + c) * 4 + ch) * kFrames + f] =
                        static_cast<std::uint8_t>(ch == 3 ? 255 : 150 + ((r / 40 + c / 40) % 2) * 20);
            }
    std::vector<float> parameters(kFrames * 14, 300.0f);
    std::vector<double> timestamps(kFrames);
    for (hsize_t f = 0; f < kFrames; ++f)
        timestamps[f] = static_cast<double>(f) / 30.0;
    const std::string blob = readFile(TAVORIN_SOURCE_DIR "/tests/fixtures/azure_kinect_raw_calibration_001514394512.json");

    const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    writeSet(file, "/depth_measure_z_0", H5T_STD_U16LE, H5T_NATIVE_UINT16, {kHeight, kWidth, kFrames}, depth.data(),
             chunked);
    writeSet(file, "/color_measure_0", H5T_STD_U8LE, H5T_NATIVE_UINT8, {kHeight, kWidth, 4, kFrames}, colour.data(),
             chunked);
    writeSet(file, "/camera_parameters_0", H5T_IEEE_F32LE, H5T_NATIVE_FLOAT, {kFrames, 14}, parameters.data(), chunked);
    writeSet(file, "/raw_azure_calibration_0", H5T_STD_U8LE, H5T_NATIVE_UINT8, {1, blob.size()}, blob.data(), false);
    writeSet(file, "/timestampsBK_0", H5T_IEEE_F64LE, H5T_NATIVE_DOUBLE, {kFrames}, timestamps.data(), false);
    H5Fclose(file);
    return path;
}

void loadFrames(benchmark::State& state, bool chunked)
{
    const std::string path = writeRecording(chunked);
    HDF5RecordingReader reader;
    std::cout.setstate(std::ios::failbit);
    const bool opened = reader.open(path, true);
    std::cout.clear();
    if (!opened || !reader.loadFrame(0)) {
        state.SkipWithError("recording does not open");
        return;
    }
    std::uint32_t frame = 0;
    for (auto _ : state) {
        frame = (frame + 1) % kFrames;
        benchmark::DoNotOptimize(reader.loadFrame(frame));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPixels * (2 + 4));
    std::remove(path.c_str());
}

// Depth, colour and parameters of one frame, then the points (calibrated path).
void BM_LoadFrameChunkedCompressed(benchmark::State& state)
{
    loadFrames(state, true);
}
BENCHMARK(BM_LoadFrameChunkedCompressed)->Unit(benchmark::kMillisecond);

void BM_LoadFrameContiguous(benchmark::State& state)
{
    loadFrames(state, false);
}
BENCHMARK(BM_LoadFrameContiguous)->Unit(benchmark::kMillisecond);

struct ConversionInput {
    std::vector<float> depth = std::vector<float>(kPixels);
    std::vector<float> table = std::vector<float>(kPixels * 2);
    std::vector<float> points = std::vector<float>(kPixels * 4);
    ConversionInput()
    {
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> ray(-1.0f, 1.0f);
        for (std::size_t k = 0; k < kPixels; ++k) {
            depth[k] = k % 17 == 0 ? 0.0f : 1000.0f + static_cast<float>(k % 2000);
            table[2 * k] = ray(rng);
            table[2 * k + 1] = ray(rng);
        }
    }
};

void BM_CalibratedPointConversion(benchmark::State& state)
{
    ConversionInput in;
    for (auto _ : state) {
        depthToPoints(in.depth.data(), in.table.data(), kPixels, in.points.data(), kRecordingPoints);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPixels * 16);
}
BENCHMARK(BM_CalibratedPointConversion)->Unit(benchmark::kMicrosecond);

// Baseline: copying the same 640 x 576 x 16 output bytes.
void BM_MemcpyOfPointBytes(benchmark::State& state)
{
    ConversionInput in;
    std::vector<float> source(kPixels * 4, 1.0f);
    for (auto _ : state) {
        std::memcpy(in.points.data(), source.data(), kPixels * 16);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPixels * 16);
}
BENCHMARK(BM_MemcpyOfPointBytes)->Unit(benchmark::kMicrosecond);

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Three sample recordings of 11 s played for 10 s: frames read per reader per second beside the
// recordings' 30 fps, and the CPU seconds of the process (the main thread sleeps, so this is the
// playback thread) beside the 10 s of wall time.
void BM_ThreeSampleRecordingsInStep(benchmark::State& state)
{
    constexpr double kPlaySeconds = 10.0;
    const std::string folder = benchPath("samples") + "/OP1";
    const std::string generate = std::string(TAVORIN_BINARY_DIR "/tavorin-samples --seconds 11 --out ") + folder
        + " > /dev/null";
    if (std::system(generate.c_str()) != 0) {
        state.SkipWithError("tavorin-samples failed");
        return;
    }
    const std::vector<std::string> paths = {folder + "/kinect_000135193412.h5", folder + "/kinect_000218790512.h5",
                                            folder + "/kinect_000402694812.h5"};
    for (auto _ : state) {
        std::cout.setstate(std::ios::failbit);
        HDF5CameraProcessor source(paths);
        std::cout.clear();
        const double cpuStart = processCpuSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(kPlaySeconds));
        const double cpu = processCpuSeconds() - cpuStart;
        double reads = 0.0;
        for (const auto& reader : source.recordingReaders())
            reads += static_cast<double>(reader->frameReads());
        const double perReader = reads / static_cast<double>(source.recordingReaders().size()) / kPlaySeconds;
        state.counters["frames_per_reader_per_s"] = perReader;
        state.counters["ratio_to_30fps"] = perReader / 30.0;
        state.counters["playback_cpu_s"] = cpu;
        state.counters["cpu_share_of_wall"] = cpu / kPlaySeconds;
    }
    std::system(("rm -rf " + benchPath("samples")).c_str());
}
BENCHMARK(BM_ThreeSampleRecordingsInStep)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
