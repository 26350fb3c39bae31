// The moved-camera check of one camera: its last 45 frames (640 x 576, the furnished sample room in
// use, the camera turned by 0.5 degrees) gathered, their median taken and registered against its
// reference, on one core. Reported beside a memcpy of the same frames' points timed in the same
// iterations, as a ratio.

#include "calibration/drift/DepthStack.h"
#include "calibration/drift/DriftRegistration.h"

#include "sample_scene/SampleCameraCeiling.h"
#include "sample_scene/SampleView.h"

#include <Eigen/Geometry>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 576;
constexpr double kFocal = 504.0;
constexpr int kFrames = 45;
constexpr std::size_t kPixels = std::size_t(kWidth) * kHeight;

struct Scene {
    std::vector<float> rays;
    std::vector<std::vector<float>> before; // points per frame
    std::vector<std::vector<float>> after;
};

std::vector<std::vector<float>> frames(sample_scene::SampleView& view, const std::vector<float>& rays, bool person)
{
    PlatePose hidden{Eigen::Vector3d(0.0, -50.0, 0.0), Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitZ(),
                     -Eigen::Vector3d::UnitY()};
    std::mt19937 rng(person ? 2u : 1u);
    std::vector<std::uint16_t> depth(kPixels);
    std::vector<std::vector<float>> all;
    for (int f = 0; f < kFrames; ++f) {
        if (person)
            view.setMoving({sample_scene::walkingPerson(f / 30.0)});
        view.renderDepth(hidden, rng, depth.data());
        std::vector<float> points(kPixels * 4, 0.0f);
        for (std::size_t k = 0; k < kPixels; ++k) {
            const float z = depth[k] / 1000.0f;
            points[4 * k] = -rays[2 * k] * z;
            points[4 * k + 1] = -rays[2 * k + 1] * z;
            points[4 * k + 2] = z;
        }
        all.push_back(std::move(points));
    }
    return all;
}

const Scene& scene()
{
    static const Scene made = [] {
        Scene s;
        s.rays.resize(kPixels * 2);
        for (int v = 0; v < kHeight; ++v)
            for (int u = 0; u < kWidth; ++u) {
                s.rays[2 * (std::size_t(v) * kWidth + u)] = static_cast<float>((u + 0.5 - kWidth / 2.0) / kFocal);
                s.rays[2 * (std::size_t(v) * kWidth + u) + 1] = static_cast<float>((v + 0.5 - kHeight / 2.0) / kFocal);
            }
        sample_scene::CameraPose pose = sample_scene::ceilingCameraPose(1, 4);
        sample_scene::SampleView view(pose, kWidth, kHeight, s.rays);
        view.simulateArtefacts();
        view.furnish(sample_scene::furnishedRoom());
        s.before = frames(view, s.rays, false);
        pose.R_room_sdk = pose.R_room_sdk
            * Eigen::AngleAxisd(0.5 * M_PI / 180.0, Eigen::Vector3d(0.5, 0.8, 0.33).normalized()).toRotationMatrix();
        view.moveCamera(pose);
        std::vector<sample_scene::FloorBox> boxes = sample_scene::furnishedRoom();
        boxes.back() = sample_scene::pushedTable();
        view.furnish(boxes);
        s.after = frames(view, s.rays, true);
        return s;
    }();
    return made;
}

tavorin::StillView stillOf(const std::vector<std::vector<float>>& points, tavorin::DepthStack& stack)
{
    for (const std::vector<float>& frame : points)
        stack.add(frame.data(), tavorin::DepthCorrection{});
    return tavorin::StillView{kWidth, kHeight, stack.stillDepthMm()};
}

void BM_CheckOneCamera(benchmark::State& state)
{
    const Scene& s = scene();
    tavorin::DepthStack referenceStack(kWidth, kHeight, kFrames);
    const tavorin::StillView reference = stillOf(s.before, referenceStack);
    std::vector<float> copy(kPixels * 4);
    double checkSeconds = 0.0;
    double copySeconds = 0.0;
    double turnDeg = 0.0;
    double medianSeconds = 0.0;
    int iterations = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        tavorin::DepthStack stack(kWidth, kHeight, kFrames);
        const tavorin::StillView current = stillOf(s.after, stack);
        const auto gathered = std::chrono::steady_clock::now();
        const tavorin::DriftEstimate estimate = tavorin::estimateDrift(reference, current, stack.rays());
        benchmark::DoNotOptimize(estimate.turnDeg);
        const auto checked = std::chrono::steady_clock::now();
        for (const std::vector<float>& frame : s.after)
            std::memcpy(copy.data(), frame.data(), frame.size() * sizeof(float));
        benchmark::ClobberMemory();
        const auto copied = std::chrono::steady_clock::now();
        checkSeconds += std::chrono::duration<double>(checked - start).count();
        medianSeconds += std::chrono::duration<double>(gathered - start).count();
        iterations = estimate.iterations;
        copySeconds += std::chrono::duration<double>(copied - checked).count();
        turnDeg = estimate.turnDeg;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["check_s"] = checkSeconds / n;
    state.counters["median_s"] = medianSeconds / n;
    state.counters["iterations"] = iterations;
    state.counters["memcpy_s"] = copySeconds / n;
    state.counters["x_memcpy"] = checkSeconds / copySeconds;
    state.counters["turn_deg"] = turnDeg; // truth 0.5
}
BENCHMARK(BM_CheckOneCamera)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
