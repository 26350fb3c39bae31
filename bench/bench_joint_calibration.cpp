// The joint estimate of eight cameras standing around the room, the plate seen by three to five of
// them at a time, each with its own depth error: solved over 100, 300 and 900 frame sets. Each
// figure is reported beside the 100-set solve timed in the same iterations, as a ratio; the target
// is 900 frame sets within a second on one core.

#include "../tests/unit/test_calibration_joint_scene.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>

using namespace joint_scene;

namespace {

constexpr int kCameras = 8;
constexpr int kBaselineSets = 100;

// Eight cameras on a circle of 2.2 m around the work spot; a camera sees the plate when it faces
// it within 60 degrees.
Scene eightAround(int sets)
{
    Scene scene;
    for (int c = 0; c < kCameras; ++c) {
        const float angle = 2.0f * 3.14159265f * static_cast<float>(c) / kCameras;
        SceneCamera camera;
        const Vec4 position = Vec4::point(2.2f * std::sin(angle), 2.1f, -2.2f * std::cos(angle));
        camera.T_room_camera = lookingAt(position, Vec4::point(0.0f, 1.0f, 0.0f));
        camera.error = DepthCorrection{2.0 * (c % 3) - 2.0, 0.0004 * ((c % 5) - 2)};
        camera.sees = [position](const Mat4& plate) {
            const Vec4 toCamera = tavorin::normalize(position - plate.translation());
            const Vec4 normal = tavorin::normalize(plate * Vec4::direction(0, 0, -1));
            return std::fabs(tavorin::dot(toCamera, normal)) > 0.5f;
        };
        scene.cameras.push_back(camera);
    }
    for (int s = 0; s < sets; ++s) {
        const float t = static_cast<float>(s) / static_cast<float>(sets);
        const Vec4 centre = Vec4::point(0.3f * std::sin(7.0f * t), 1.0f + 0.2f * std::sin(11.0f * t), 0.3f * std::cos(5.0f * t));
        scene.plates.push_back(platePose(centre, 6.2832f * 1.5f * t, 0.4f * std::sin(13.0f * t)));
    }
    return scene;
}

double secondsOfSolve(const JointCalibration& joint)
{
    const auto start = std::chrono::steady_clock::now();
    const JointEstimate estimate = joint.solve();
    benchmark::DoNotOptimize(estimate.cameras.data());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_JointEstimate(benchmark::State& state)
{
    const JointCalibration joint = observeScene(eightAround(static_cast<int>(state.range(0))));
    const JointCalibration baseline = observeScene(eightAround(kBaselineSets));
    double seconds = 0.0;
    double baselineSeconds = 0.0;
    for (auto _ : state) {
        seconds += secondsOfSolve(joint);
        baselineSeconds += secondsOfSolve(baseline);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["seconds"] = seconds / iterations;
    state.counters["vs_100_sets"] = seconds / baselineSeconds;
}

} // namespace

BENCHMARK(BM_JointEstimate)->Arg(100)->Arg(300)->Arg(900)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
