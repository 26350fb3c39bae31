// The joint estimate of eight cameras standing around the room, the plate seen by three to five of
// them at a time, each with its own depth error: solved over 100, 300 and 900 frame sets. Each
// figure is reported beside the 100-set solve timed in the same iterations, as a ratio; the target
// is 900 frame sets within a second on one core. Then the same cameras on three capture PCs, the
// plate waved briskly, 900 frame sets with their instants, so that every camera's clock offset is
// estimated (the PCs' clocks agreeing, or 23 and 41 ms apart): beside the solve of the same sets
// without their instants, which estimates no offset. Times are the solving thread's CPU time.

#include "../tests/unit/test_calibration_joint_scene.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <utility>

using namespace joint_scene;

namespace {

constexpr int kBaselineSets = 100;
constexpr std::size_t kClockSets = 900;

Scene eightAround(int sets)
{
    Scene scene;
    scene.cameras = joint_scene::eightAround();
    for (int s = 0; s < sets; ++s) {
        const float t = static_cast<float>(s) / static_cast<float>(sets);
        const Vec4 centre = Vec4::point(0.3f * std::sin(7.0f * t), 1.0f + 0.2f * std::sin(11.0f * t), 0.3f * std::cos(5.0f * t));
        scene.plates.push_back(platePose(centre, 6.2832f * 1.5f * t, 0.4f * std::sin(13.0f * t)));
    }
    return scene;
}

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double secondsOfSolve(const JointCalibration& joint)
{
    const double start = threadSeconds();
    const JointEstimate estimate = joint.solve();
    benchmark::DoNotOptimize(estimate.cameras.data());
    return threadSeconds() - start;
}

// Per iteration, the seconds of `joint`'s solve and of the baseline's, solved in turn.
std::pair<double, double> secondsOfSolves(benchmark::State& state, const JointCalibration& joint,
                                          const JointCalibration& baseline)
{
    double seconds = 0.0;
    double baselineSeconds = 0.0;
    for (auto _ : state) {
        seconds += secondsOfSolve(joint);
        baselineSeconds += secondsOfSolve(baseline);
    }
    const double iterations = static_cast<double>(state.iterations());
    return {seconds / iterations, baselineSeconds / iterations};
}

void BM_JointEstimate(benchmark::State& state)
{
    const JointCalibration joint = observeScene(eightAround(static_cast<int>(state.range(0))));
    const JointCalibration baseline = observeScene(eightAround(kBaselineSets));
    const auto [seconds, baselineSeconds] = secondsOfSolves(state, joint, baseline);
    state.counters["seconds"] = seconds;
    state.counters["vs_100_sets"] = seconds / baselineSeconds;
}

// Argument: 0 for clocks agreeing, 1 for PC B 23 ms ahead of PC A and PC C 41 ms behind.
void BM_JointEstimateWithClockOffsets(benchmark::State& state)
{
    const double clockOffsetsS[] = {0.0, 0.0, 0.0, 0.023, 0.023, 0.023, -0.041, -0.041};
    Scene scene;
    scene.cameras = joint_scene::eightAround();
    if (state.range(0) == 1)
        for (std::size_t c = 0; c < scene.cameras.size(); ++c)
            scene.cameras[c].clockOffsetS = clockOffsetsS[c];
    scene.path = briskPath;
    scene.pathSets = kClockSets;
    const std::vector<ObservedSet> sets = observeSets(scene);
    const JointCalibration withOffsets = calibrationOf(sets, scene.cameras.size());
    const JointCalibration withoutOffsets = calibrationWithoutInstants(sets, scene.cameras.size());
    const auto [seconds, baselineSeconds] = secondsOfSolves(state, withOffsets, withoutOffsets);
    state.counters["seconds"] = seconds;
    state.counters["baseline_seconds"] = baselineSeconds;
    state.counters["vs_without_offsets"] = seconds / baselineSeconds;
}

} // namespace

BENCHMARK(BM_JointEstimate)->Arg(100)->Arg(300)->Arg(900)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JointEstimateWithClockOffsets)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
