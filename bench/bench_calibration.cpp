// Lattice detection on one frame with and without the plate, each reported as a ratio to one pass
// over the frame's pixels timed in the same iterations; the two registrations per frame after 10 s,
// 60 s and 5 minutes of observations of three cameras, each reported as a ratio to the figure after
// 10 s timed in the same iterations, beside the full computation over every observation; and the
// whole calibration cycle of the three sample recordings after 10 s, 60 s and 5 minutes, again
// beside its 10 s figure from the same iterations.

#include "acquisition/recording/HDF5RecordingReader.h"
#include "calibration/cycle/DepthCameraCalibrator.h"
#include "calibration/registration/GridHoleMatching.h"
#include "calibration/detection/LatticeDetection.h"
#include "calibration/registration/PointCloudAligner.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include "../tests/unit/test_calibration_plate_scene.h"
#include "BenchTiming.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <sstream>

using tavorin::AxisY, tavorin::AxisZ, tavorin::DepthCameraCalibrator, tavorin::DepthCameraData, tavorin::detectLattice, tavorin::HDF5RecordingReader, tavorin::inverse,
    tavorin::LatticeDetectionResult, tavorin::lengthSquared, tavorin::Mat4, tavorin::missingPoint,
    tavorin::PointCloudAligner, tavorin::PointImage, tavorin::rotate, tavorin::SceneState, tavorin::translate, tavorin::Vec4;

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

// One pass over the pixels: the squared distance of each point to its left neighbour through
// Vec4, the baseline the detection targets are set against.
int pixelPass(const PointImage& image)
{
    int close = 0;
    for (std::int32_t i = 1; i < image.pixelCount(); ++i)
        close += lengthSquared(image.at(i) - image.at(i - 1)) < 0.0025f ? 1 : 0;
    return close;
}

// The same pass with the arithmetic inline, as the detector's own row loops do it.
int inlinePixelPass(const PointImage& image)
{
    int close = 0;
    for (std::int32_t i = 1; i < image.pixelCount(); ++i)
        close += image.squaredDistance(i, i - 1) < 0.0025f ? 1 : 0;
    return close;
}

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return bench::elapsedSince<std::milli>(start);
}

// Every iteration times one detection, then (outside the benchmark's own timing) both pixel
// passes on the same image, so that the ratios of the medians come from one run on one load.
void runDetection(benchmark::State& state, const PointImage& image, int expectFound)
{
    constexpr int kAnyResult = -1;
    const SilencedStdout silenced;
    std::vector<double> detection, pass, inlinePass;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        const LatticeDetectionResult result = detectLattice(image);
        detection.push_back(millisecondsSince(start));
        state.PauseTiming();
        if (expectFound != kAnyResult && result.found != (expectFound == 1))
            state.SkipWithError("unexpected detection result");
        benchmark::DoNotOptimize(result);
        start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(pixelPass(image));
        pass.push_back(millisecondsSince(start));
        start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(inlinePixelPass(image));
        inlinePass.push_back(millisecondsSince(start));
        state.ResumeTiming();
    }
    state.counters["pass_ms"] = bench::median(pass);
    state.counters["x_pass"] = bench::median(detection) / bench::median(pass);
    state.counters["x_inline_pass"] = bench::median(detection) / bench::median(inlinePass);
}

void BM_DetectLattice_WithPlate(benchmark::State& state)
{
    const PlateScene scene = frameWithPlate();
    runDetection(state, scene.image(), 1);
}

void BM_DetectLattice_WithoutPlate(benchmark::State& state)
{
    const PlateScene scene = frameWithoutPlate();
    runDetection(state, scene.image(), 0);
}

// The sample recordings, in name order; empty when they have not been made.
std::vector<std::string> sampleFiles()
{
    constexpr const char* kSampleFolder = "samples/OP1";
    std::vector<std::string> files;
    if (!std::filesystem::is_directory(kSampleFolder))
        return files;
    for (const auto& entry : std::filesystem::directory_iterator(kSampleFolder))
        if (entry.path().extension() == ".h5")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Frame `frame` of the first sample recording as x, y, z per pixel; empty when there is none.
std::vector<float> sampleFrame(std::uint32_t frame, PointImage& image)
{
    std::vector<float> points;
    const std::vector<std::string> files = sampleFiles();
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
    runDetection(state, image, -1);
}

void BM_PixelPass(benchmark::State& state)
{
    const PlateScene scene = frameWithPlate();
    for (auto _ : state)
        benchmark::DoNotOptimize(pixelPass(scene.image()));
}

constexpr int kFramesPerSecond = 30;
constexpr int kCameras = 3;

// Observations of three cameras at 30 frames per second: `pointsPerFrame` points each, seen by
// camera 0 directly and by cameras 1 and 2 through known poses, with 1 mm noise; a tenth missing.
class ObservationStream {
public:
    explicit ObservationStream(int pointsPerFrame) : pointsPerFrame(pointsPerFrame) {}

    std::vector<std::vector<Vec4>> nextFrame()
    {
        constexpr int kMissingEvery = 10;
        std::vector<std::vector<Vec4>> points(kCameras);
        for (int k = 0; k < pointsPerFrame; ++k) {
            const Vec4 p = Vec4::point(position(random), position(random), 1.6f + position(random));
            for (std::size_t c = 0; c < kCameras; ++c) {
                const bool missing = c > 0 && (frame * pointsPerFrame + k) % kMissingEvery == 0;
                points[c].push_back(missing ? missingPoint()
                                            : T_camera_0[c] * p
                                                  + Vec4::direction(noise(random), noise(random), noise(random)));
            }
        }
        ++frame;
        return points;
    }

private:
    const std::vector<Mat4> T_camera_0 = {
        Mat4::identity(), inverse(translate(rotate(Mat4::identity(), 0.5f, AxisY), -1.2f, 0.0f, 0.3f)),
        inverse(translate(rotate(Mat4::identity(), -2.6f, AxisY), 0.4f, 0.1f, 3.2f))};
    int pointsPerFrame;
    int frame = 0;
    std::mt19937 random{5};
    std::uniform_real_distribution<float> position{-0.3f, 0.3f};
    std::normal_distribution<float> noise{0.0f, 0.001f};
};

// An aligner that has registered every frame of `seconds` of observations, as the cycle does,
// with the stream that goes on from there.
struct RegistrationRun {
    RegistrationRun(double seconds, int pointsPerFrame) : stream(pointsPerFrame)
    {
        const int frames = static_cast<int>(seconds * kFramesPerSecond);
        for (int frame = 0; frame < frames; ++frame) {
            aligner.addCorrespondencePoints(stream.nextFrame());
            aligner.registrate(0, kThreshold);
        }
    }
    // One more frame's observations and registration; returns its milliseconds.
    template <typename Registration>
    double nextFrame(const Registration& registrate)
    {
        aligner.addCorrespondencePoints(stream.nextFrame());
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(registrate(aligner));
        return millisecondsSince(start);
    }

    static constexpr float kThreshold = 0.04f;
    ObservationStream stream;
    PointCloudAligner aligner{kCameras};
};

// Per frame after state.range(0) seconds, the points counter at the end, and (outside the benchmark's own timing) after 10 s
// in the same iterations, so that x_10s is the growth from one run.
template <typename Registration>
void runRegistration(benchmark::State& state, int pointsPerFrame, const Registration& registrate)
{
    constexpr double kBaselineSeconds = 10.0;
    RegistrationRun run(static_cast<double>(state.range(0)), pointsPerFrame);
    RegistrationRun baseline(kBaselineSeconds, pointsPerFrame);
    std::vector<double> measured, reference;
    for (auto _ : state) {
        measured.push_back(run.nextFrame(registrate));
        state.PauseTiming();
        reference.push_back(baseline.nextFrame(registrate));
        state.ResumeTiming();
    }
    state.counters["points"] = static_cast<double>(run.aligner.referencePointCount());
    state.counters["ms_10s"] = bench::median(reference);
    state.counters["x_10s"] = bench::median(measured) / bench::median(reference);
}

const auto bounded = [](PointCloudAligner& aligner) { return aligner.registrate(0, RegistrationRun::kThreshold); };
const auto overAll = [](PointCloudAligner& aligner) {
    return aligner.registrateOverAll(0, RegistrationRun::kThreshold);
};

constexpr int kRoughPointsPerFrame = 2;
constexpr int kFinePointsPerFrame = 25;

void BM_RoughRegistration(benchmark::State& state)
{
    runRegistration(state, kRoughPointsPerFrame, bounded);
}

void BM_RoughRegistrationOverAll(benchmark::State& state)
{
    runRegistration(state, kRoughPointsPerFrame, overAll);
}

void BM_FineRegistration(benchmark::State& state)
{
    runRegistration(state, kFinePointsPerFrame, bounded);
}

void BM_FineRegistrationOverAll(benchmark::State& state)
{
    runRegistration(state, kFinePointsPerFrame, overAll);
}

// The three sample recordings with every frame's detections, searched once: a calibrator takes
// seconds of frames through registerDetections at the cost of the registration alone, and then
// times whole cycles, searches included, on frames loaded into the readers.
class SampleCycle {
public:
    bool open()
    {
        const SilencedStdout silenced;
        for (const std::string& file : sampleFiles()) {
            auto reader = std::make_shared<HDF5RecordingReader>();
            if (!reader->open(file, false) || reader->frameCount() == 0 || !reader->loadFrame(0))
                return false;
            readers.push_back(reader);
        }
        if (readers.size() != kCameras)
            return false;
        for (std::uint32_t frame = 0; frame < readers.front()->frameCount(); ++frame) {
            load(frame);
            std::vector<LatticeDetectionResult> detections;
            for (const std::shared_ptr<DepthCameraData>& camera : state.cameras)
                detections.push_back(detectLattice(
                    PointImage{camera->points, camera->width, camera->height, kFloatsPerRecordPoint}));
            framesDetections.push_back(std::move(detections));
        }
        return true;
    }

    // A calibrator that has registered `seconds` of frames, the recordings played over and over.
    void accumulate(DepthCameraCalibrator& calibrator, double seconds)
    {
        const std::size_t frames = static_cast<std::size_t>(seconds * kFramesPerSecond);
        for (std::size_t frame = 0; frame < frames; ++frame)
            calibrator.registerDetections(framesDetections[frame % framesDetections.size()], state);
    }

    // The next frame of the recordings into the state's records (outside any timing).
    void loadNext() { load(static_cast<std::uint32_t>(next++ % framesDetections.size())); }

    SceneState state;

private:
    static constexpr std::int32_t kFloatsPerRecordPoint = 4;

    void load(std::uint32_t frame)
    {
        state.cameras.clear();
        for (const std::shared_ptr<HDF5RecordingReader>& reader : readers) {
            reader->loadFrame(frame);
            auto record = std::make_shared<DepthCameraData>();
            record->sourceName = reader->fileName();
            record->points = reader->points();
            record->width = static_cast<std::int32_t>(reader->width());
            record->height = static_cast<std::int32_t>(reader->height());
            state.cameras.push_back(record);
        }
    }

    std::vector<std::shared_ptr<HDF5RecordingReader>> readers;
    std::vector<std::vector<LatticeDetectionResult>> framesDetections;
    std::size_t next = 0;
};

// The whole cycle of three cameras (searches on the calibrator's workers, both registrations) per
// frame after state.range(0) seconds, and after 10 s in the same iterations: cycle_ms, ms_10s and
// x_10s are the figures of one run.
void BM_CalibrationCycle(benchmark::State& state)
{
    constexpr double kBaselineSeconds = 10.0;
    SampleCycle samples;
    if (!samples.open()) {
        state.SkipWithError("no three sample recordings under samples/OP1");
        return;
    }
    DepthCameraCalibrator calibrator;
    DepthCameraCalibrator baseline;
    samples.accumulate(calibrator, static_cast<double>(state.range(0)));
    samples.accumulate(baseline, kBaselineSeconds);
    const SilencedStdout silenced;
    std::vector<double> measured, reference;
    for (auto _ : state) {
        state.PauseTiming();
        samples.loadNext();
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        calibrator.calibrateDepthCameras(samples.state);
        measured.push_back(millisecondsSince(start));
        state.PauseTiming();
        start = std::chrono::steady_clock::now();
        baseline.calibrateDepthCameras(samples.state);
        reference.push_back(millisecondsSince(start));
        state.ResumeTiming();
    }
    state.counters["cycle_ms"] = bench::median(measured);
    state.counters["ms_10s"] = bench::median(reference);
    state.counters["x_10s"] = bench::median(measured) / bench::median(reference);
}

} // namespace

BENCHMARK(BM_PixelPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectLattice_WithPlate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectLattice_WithoutPlate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectLattice_SampleFrame)->Unit(benchmark::kMillisecond);
// Each iteration adds a frame: a fixed count keeps the figures at the lengths they are named by
// (60 frames are 2 s more).
constexpr int kRegistrationFrames = 60;
BENCHMARK(BM_RoughRegistration)->Arg(10)->Arg(60)->Arg(300)->Iterations(kRegistrationFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoughRegistrationOverAll)->Arg(10)->Arg(60)->Arg(300)->Iterations(kRegistrationFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FineRegistration)->Arg(10)->Arg(60)->Arg(300)->Iterations(kRegistrationFrames)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FineRegistrationOverAll)->Arg(10)->Arg(60)->Arg(300)->Iterations(kRegistrationFrames)->Unit(benchmark::kMillisecond);
// One pass over the 120 frames of the samples' motion, each timed at both lengths.
constexpr int kCycleFrames = 120;
BENCHMARK(BM_CalibrationCycle)->Arg(10)->Arg(60)->Arg(300)->Iterations(kCycleFrames)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
