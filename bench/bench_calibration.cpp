// Lattice detection on one frame with and without the plate, beside one pass over the frame's
// pixels; the two registrations after 10, 30 and 60 s of observations of three cameras, beside
// one pass over the same observations.

#include "acquisition/HDF5RecordingReader.h"
#include "calibration/GridHoleMatching.h"
#include "calibration/LatticeDetection.h"
#include "calibration/PointCloudAligner.h"

#include "../tests/unit/test_calibration_plate_scene.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>

namespace {

constexpr float kDegree = 3.14159265358979f / 180.0f;

PlateScene frameWithPlate()
{
    PlateScene scene;
    PlatePose pose = PlatePose{}.turned(25.0f * kDegree, AxisZ).turned(-20.0f * kDegree, AxisY);
    pose.centre = Vec4::point(0.1f, 0.0f, 1.6f);
    scene.renderPlate(pose);
    return scene;
}

// A room wall 3 m away and the plate out of view: the gap search finds no cluster.
PlateScene frameWithoutPlate()
{
    PlateScene scene;
    scene.renderWallBehind(3.0f);
    return scene;
}

// The detector's console line would flood the benchmark output.
class SilencedStdout {
public:
    SilencedStdout() : previous(std::cout.rdbuf(sink.rdbuf())) {}
    ~SilencedStdout() { std::cout.rdbuf(previous); }

private:
    std::ostringstream sink;
    std::streambuf* previous;
};

void runDetection(benchmark::State& state, const PlateScene& scene, bool expectFound)
{
    const SilencedStdout silenced;
    for (auto _ : state) {
        const LatticeDetectionResult result = detectLattice(scene.image());
        if (result.found != expectFound)
            state.SkipWithError("unexpected detection result");
        benchmark::DoNotOptimize(result);
    }
}

void BM_DetectLattice_WithPlate(benchmark::State& state)
{
    runDetection(state, frameWithPlate(), true);
}

void BM_DetectLattice_WithoutPlate(benchmark::State& state)
{
    runDetection(state, frameWithoutPlate(), false);
}

// Frame `frame` of the first sample recording as x, y, z per pixel; empty when there is none.
std::vector<float> sampleFrame(std::uint32_t frame, PointImage& image)
{
    constexpr const char* kSampleFolder = "samples/OP1";
    std::vector<float> points;
    if (!std::filesystem::is_directory(kSampleFolder))
        return points;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(kSampleFolder))
        if (entry.path().extension() == ".h5")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    HDF5RecordingReader reader;
    if (files.empty() || !reader.open(files.front(), false) || !reader.loadFrame(frame) || !reader.points())
        return points;
    const std::size_t pixels = static_cast<std::size_t>(reader.width()) * reader.height();
    for (std::size_t i = 0; i < pixels; ++i)
        points.insert(points.end(), reader.points() + 4 * i, reader.points() + 4 * i + 3);
    image = PointImage{points.data(), static_cast<std::int32_t>(reader.width()), static_cast<std::int32_t>(reader.height())};
    return points;
}

// A frame from the middle of the sample recordings (run from the repository root after making
// them), and one pass over its pixels.
void BM_DetectLattice_SampleFrame(benchmark::State& state)
{
    constexpr std::uint32_t kSampleFrameIndex = 60;
    PointImage image;
    const std::vector<float> points = sampleFrame(kSampleFrameIndex, image);
    if (points.empty()) {
        state.SkipWithError("no sample recordings under samples/OP1");
        return;
    }
    const SilencedStdout silenced;
    for (auto _ : state)
        benchmark::DoNotOptimize(detectLattice(image));
}

// Baseline: one pass over the pixels, the squared distance of each point to its left neighbour.
void BM_PixelPass(benchmark::State& state)
{
    const PlateScene scene = frameWithPlate();
    const PointImage image = scene.image();
    for (auto _ : state) {
        int close = 0;
        for (std::int32_t i = 1; i < image.pixelCount(); ++i)
            close += lengthSquared(image.at(i) - image.at(i - 1)) < 0.0025f ? 1 : 0;
        benchmark::DoNotOptimize(close);
    }
}

// Observations of three cameras at 30 frames per second: `pointsPerFrame` points each, seen by
// camera 0 directly and by cameras 1 and 2 through known poses, with 1 mm noise; a tenth missing.
PointCloudAligner observedFor(double seconds, int pointsPerFrame)
{
    constexpr int kFramesPerSecond = 30;
    constexpr int kMissingEvery = 10;
    const std::vector<Mat4> T_camera_0 = {
        Mat4::identity(), inverse(translate(rotate(Mat4::identity(), 0.5f, AxisY), -1.2f, 0.0f, 0.3f)),
        inverse(translate(rotate(Mat4::identity(), -2.6f, AxisY), 0.4f, 0.1f, 3.2f))};
    std::mt19937 random(5);
    std::uniform_real_distribution<float> position(-0.3f, 0.3f);
    std::normal_distribution<float> noise(0.0f, 0.001f);
    PointCloudAligner aligner(3);
    const int frames = static_cast<int>(seconds * kFramesPerSecond);
    for (int frame = 0; frame < frames; ++frame) {
        std::vector<std::vector<Vec4>> points(3);
        for (int k = 0; k < pointsPerFrame; ++k) {
            const Vec4 p = Vec4::point(position(random), position(random), 1.6f + position(random));
            for (std::size_t c = 0; c < 3; ++c) {
                const bool missing = c > 0 && (frame * pointsPerFrame + k) % kMissingEvery == 0;
                points[c].push_back(missing ? missingPoint()
                                            : T_camera_0[c] * p + Vec4::direction(noise(random), noise(random), noise(random)));
            }
        }
        aligner.addCorrespondencePoints(points);
    }
    return aligner;
}

void runRegistration(benchmark::State& state, int pointsPerFrame)
{
    const PointCloudAligner aligner = observedFor(static_cast<double>(state.range(0)), pointsPerFrame);
    for (auto _ : state)
        benchmark::DoNotOptimize(aligner.registrate(0, 0.04f));
    state.counters["points"] = static_cast<double>(aligner.referencePointCount());
}

// Baseline: one pass over the same observations, applying a transform to every point.
void runResidualPass(benchmark::State& state, int pointsPerFrame)
{
    const PointCloudAligner aligner = observedFor(static_cast<double>(state.range(0)), pointsPerFrame);
    const std::vector<Mat4> transforms(3, Mat4::identity());
    for (auto _ : state)
        benchmark::DoNotOptimize(aligner.residuals(transforms, 0, 0.04f));
}

constexpr int kRoughPointsPerFrame = 2;
constexpr int kFinePointsPerFrame = 25;

void BM_RoughRegistration(benchmark::State& state)
{
    runRegistration(state, kRoughPointsPerFrame);
}

void BM_RoughObservationPass(benchmark::State& state)
{
    runResidualPass(state, kRoughPointsPerFrame);
}

void BM_FineRegistration(benchmark::State& state)
{
    runRegistration(state, kFinePointsPerFrame);
}

void BM_FineObservationPass(benchmark::State& state)
{
    runResidualPass(state, kFinePointsPerFrame);
}

} // namespace

BENCHMARK(BM_PixelPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectLattice_WithPlate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectLattice_WithoutPlate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectLattice_SampleFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoughObservationPass)->Arg(10)->Arg(30)->Arg(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoughRegistration)->Arg(10)->Arg(30)->Arg(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FineObservationPass)->Arg(10)->Arg(30)->Arg(60)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FineRegistration)->Arg(10)->Arg(30)->Arg(60)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
