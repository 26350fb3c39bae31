// RVL, as compressedDepth messages carry depth: encode and decode of one 640 x 576 frame, each as a
// ratio to a memcpy of the frame timed in the same iterations, and the stream's size as a fraction
// of the frame's bytes. The frame is frame 0 of a sample recording when one has been made
// (tavorin-samples), else a synthetic one like it.
#include "network/codec/RvlCodec.h"
#include "BenchTiming.h"

#include <hdf5.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

using tavorin::decodeRvl, tavorin::encodeRvl;

namespace {

constexpr hsize_t kWidth = 640;
constexpr hsize_t kHeight = 576;
constexpr std::size_t kPixels = kWidth * kHeight;
constexpr const char* kSample = TAVORIN_SOURCE_DIR "/samples/OP1/kinect_000135193412.h5";

// Frame 0 of the sample's depth (rows, columns, frames); empty when it cannot be read.
std::vector<std::uint16_t> sampleFrame()
{
    std::vector<std::uint16_t> depth;
    if (!std::filesystem::exists(kSample))
        return depth;
    const hid_t file = H5Fopen(kSample, H5F_ACC_RDONLY, H5P_DEFAULT);
    const hid_t set = file < 0 ? -1 : H5Dopen2(file, "/depth_measure_z_0", H5P_DEFAULT);
    if (set >= 0) {
        const hsize_t start[3] = {0, 0, 0};
        const hsize_t count[3] = {kHeight, kWidth, 1};
        const hid_t fileSpace = H5Dget_space(set);
        const hid_t memSpace = H5Screate_simple(3, count, nullptr);
        depth.resize(kPixels);
        if (H5Sselect_hyperslab(fileSpace, H5S_SELECT_SET, start, nullptr, count, nullptr) < 0
            || H5Dread(set, H5T_NATIVE_UINT16, memSpace, fileSpace, H5P_DEFAULT, depth.data()) < 0)
            depth.clear();
        H5Sclose(memSpace);
        H5Sclose(fileSpace);
        H5Dclose(set);
    }
    if (file >= 0)
        H5Fclose(file);
    return depth;
}

// Like the samples: a floor that recedes up the image, a plate at 1.6 m with a lattice of
// holes, 1.5 mm noise, and no depth outside 0.5 to 3.86 m.
std::vector<std::uint16_t> syntheticFrame()
{
    constexpr double kMinMm = 500.0, kMaxMm = 3860.0;
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 1.5);
    std::vector<std::uint16_t> depth(kPixels);
    for (hsize_t row = 0; row < kHeight; ++row)
        for (hsize_t column = 0; column < kWidth; ++column) {
            const double floorMm = 1800.0 / std::max(0.05, (static_cast<double>(row) - 150.0) / 426.0);
            const bool onPlate = row > 220 && row < 380 && column > 240 && column < 420;
            const bool inHole = (row % 20 < 6) && (column % 20 < 6);
            const double mm = (onPlate && !inHole ? 1600.0 + 0.3 * static_cast<double>(column - 240) : floorMm)
                + noise(rng);
            depth[row * kWidth + column] = mm < kMinMm || mm > kMaxMm ? 0 : static_cast<std::uint16_t>(mm);
        }
    return depth;
}

const std::vector<std::uint16_t>& frame()
{
    static const std::vector<std::uint16_t> depth = [] {
        std::vector<std::uint16_t> sample = sampleFrame();
        return sample.empty() ? syntheticFrame() : sample;
    }();
    return depth;
}

double microsecondsSince(std::chrono::steady_clock::time_point start)
{
    return bench::elapsedSince<std::micro>(start);
}

// Every iteration times `codec`, then (outside the benchmark's own timing) a memcpy of the frame
// into `copy`, so that the ratio of the medians comes from one run on one load.
template <typename Codec>
void runAgainstMemcpy(benchmark::State& state, Codec codec, std::uint16_t* copy)
{
    const std::vector<std::uint16_t>& depth = frame();
    std::vector<double> coded, copied;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        codec();
        coded.push_back(microsecondsSince(start));
        state.PauseTiming();
        start = std::chrono::steady_clock::now();
        std::memcpy(copy, depth.data(), kPixels * sizeof(std::uint16_t));
        benchmark::ClobberMemory();
        copied.push_back(microsecondsSince(start));
        state.ResumeTiming();
    }
    state.counters["memcpy_us"] = bench::median(copied);
    state.counters["x_memcpy"] = bench::median(coded) / bench::median(copied);
    state.counters["size_of_frame"] =
        static_cast<double>(encodeRvl(depth.data(), kPixels).size()) / static_cast<double>(kPixels * 2);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPixels * sizeof(std::uint16_t)));
}

// The copy goes to a frame of its own, as the stream is the encoder's only output.
void BM_RvlEncodeFrame(benchmark::State& state)
{
    const std::vector<std::uint16_t>& depth = frame();
    std::vector<std::uint16_t> copy(kPixels);
    runAgainstMemcpy(state, [&] { benchmark::DoNotOptimize(encodeRvl(depth.data(), kPixels)); }, copy.data());
}
BENCHMARK(BM_RvlEncodeFrame)->Unit(benchmark::kMicrosecond);

// The copy goes to the frame that the decoder writes.
void BM_RvlDecodeFrame(benchmark::State& state)
{
    const std::vector<std::uint16_t>& depth = frame();
    const std::vector<std::uint8_t> stream = encodeRvl(depth.data(), kPixels);
    std::vector<std::uint16_t> decoded(kPixels);
    if (!decodeRvl(stream.data(), stream.size(), decoded.data(), kPixels) || decoded != depth) {
        state.SkipWithError("the stream does not decode to the frame");
        return;
    }
    runAgainstMemcpy(
        state,
        [&] {
            benchmark::DoNotOptimize(decodeRvl(stream.data(), stream.size(), decoded.data(), kPixels));
            benchmark::ClobberMemory();
        },
        decoded.data());
}
BENCHMARK(BM_RvlDecodeFrame)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
