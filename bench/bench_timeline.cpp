// What bringing three unsynchronised cameras to one instant costs the calibration cycle: one
// ObservationTimeline::add per cycle, every camera with a 25-hole detection of a moving plate,
// the cameras capturing 0, 11 and 22 ms after the frame clock. Reported per cycle.

#include "calibration/joint/ObservationTimeline.h"

#include "../tests/unit/test_calibration_sliding_plate.h"

#include <benchmark/benchmark.h>

#include <vector>

using tavorin::LatticeDetectionResult, tavorin::ObservationTimeline;

namespace {

constexpr double kPeriod = 1.0 / 30.0;
constexpr double kOffsets[] = {0.0, 0.011, 0.022};

LatticeDetectionResult plateAt(double t)
{
    constexpr float kSpeed = 0.4f; // metres per second
    return slidingPlateAt(t, kSpeed);
}

void BM_TimelineCycle_ThreeCameras(benchmark::State& state)
{
    ObservationTimeline timeline(std::size(kOffsets), 0);
    std::vector<double> timestamps(std::size(kOffsets));
    std::vector<LatticeDetectionResult> detections(std::size(kOffsets));
    long frame = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (std::size_t c = 0; c < std::size(kOffsets); ++c) {
            timestamps[c] = static_cast<double>(frame) * kPeriod + kOffsets[c];
            detections[c] = plateAt(timestamps[c]);
        }
        ++frame;
        state.ResumeTiming();
        benchmark::DoNotOptimize(timeline.add(timestamps, detections));
    }
    state.counters["resolved"] = static_cast<double>(timeline.resolvedCount());
}

} // namespace

BENCHMARK(BM_TimelineCycle_ThreeCameras)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
