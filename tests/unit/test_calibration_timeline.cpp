#include "calibration/joint/ObservationTimeline.h"
#include "math/Mat4.h"
#include "test_calibration_sliding_plate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

using tavorin::distance, tavorin::LatticeDetectionResult, tavorin::ObservationTimeline, tavorin::Vec4;

namespace {

constexpr double kPeriod = 1.0 / 30.0;
constexpr float kSpeed = 0.5f; // metres per second along x

// The plate at time t in every camera's coordinates (one frame for all keeps the expected
// observation obvious).
LatticeDetectionResult plateAt(double t)
{
    return slidingPlateAt(t, kSpeed);
}

struct Scenario {
    std::string name;
    std::vector<double> offsets;  // seconds after the shared frame clock, per camera
    double jitter;                // seconds, alternating sign frame by frame
    std::vector<int> droppedFrames; // frames camera 1 never delivers
    std::size_t expectedResolved;
    std::size_t expectedUnresolved;
};

class TimelineScenario : public ::testing::TestWithParam<Scenario> {};

// Twelve cycles of three cameras; each set must hold every camera's plate where it was at the
// reference camera's capture time that the set names; a camera that cannot be brought there is
// left out of that set alone.
TEST_P(TimelineScenario, BringsEveryCameraToTheReferenceInstantAndCountsWhatItCannot)
{
    const Scenario& s = GetParam();
    constexpr int kCycles = 12;
    ObservationTimeline timeline(s.offsets.size(), 0);
    std::vector<double> referenceTimes;
    std::size_t checked = 0, partial = 0;
    for (int frame = 0; frame < kCycles; ++frame) {
        std::vector<double> timestamps;
        std::vector<LatticeDetectionResult> detections;
        for (std::size_t c = 0; c < s.offsets.size(); ++c) {
            int shown = frame;
            if (c == 1)
                for (int dropped : s.droppedFrames)
                    shown -= (frame == dropped) ? 1 : 0; // the previous frame is delivered again
            const double jitter = (c == 0 ? 0.0 : (shown % 2 ? s.jitter : -s.jitter));
            const double t = shown * kPeriod + s.offsets[c] + jitter;
            timestamps.push_back(t);
            detections.push_back(plateAt(t));
        }
        referenceTimes.push_back(timestamps[0]);
        for (const auto& [instant, set] : timeline.add(timestamps, detections)) {
            ASSERT_EQ(set.size(), s.offsets.size());
            ASSERT_TRUE(set[0].found);
            const LatticeDetectionResult truth = plateAt(instant); // the set's instant is where its plate stood
            ASSERT_TRUE(std::find(referenceTimes.begin(), referenceTimes.end(), instant) != referenceTimes.end());
            bool complete = true;
            for (const LatticeDetectionResult& observation : set) {
                complete = complete && observation.found;
                if (!observation.found)
                    continue; // left out of this instant; the others keep it
                EXPECT_LT(distance(observation.origin, truth.origin), 1e-5f);
                ASSERT_EQ(observation.holes.size(), truth.holes.size());
                for (std::size_t h = 0; h < truth.holes.size(); ++h)
                    EXPECT_LT(distance(observation.holes[h], truth.holes[h]), 1e-5f);
            }
            ++(complete ? checked : partial);
        }
    }
    EXPECT_EQ(checked, timeline.resolvedCount());
    EXPECT_EQ(partial, timeline.unresolvedCount());
    EXPECT_EQ(timeline.resolvedCount(), s.expectedResolved);
    EXPECT_EQ(timeline.unresolvedCount(), s.expectedUnresolved);
}

// Synchronised sets resolve as they come. With an offset a camera's first frame has no earlier
// one to interpolate from, and the last reference frames wait for later ones that never come (the
// last for the frame after it, the one before for the cubic's fourth frame).
// A camera that misses a frame leaves the reference captures inside its 67 ms gap unresolved.
// Captures within a millisecond of a reference capture are carried the rest of the way to it.
INSTANTIATE_TEST_SUITE_P(
    ObservationTimeline, TimelineScenario,
    ::testing::Values(Scenario{"synchronised", {0.0, 0.0, 0.0}, 0.0, {}, 12, 0},
                      Scenario{"later", {0.0, 0.011, 0.022}, 0.0, {}, 10, 1},
                      Scenario{"earlier", {0.02, 0.0, 0.033}, 0.0, {}, 9, 1},
                      Scenario{"jitter", {0.0, 0.011, 0.022}, 0.002, {}, 10, 1},
                      Scenario{"drop", {0.0, 0.011, 0.022}, 0.0, {5}, 8, 3},
                      Scenario{"withinAMillisecond", {0.0, kPeriod - 0.0006, 0.0005}, 0.0, {}, 11, 1}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; });

TEST(ObservationTimeline, InterpolationRefusesFramesThatCannotBeTheSamePlateAMomentApart)
{
    const LatticeDetectionResult a = plateAt(0.0);
    LatticeDetectionResult turned = plateAt(kPeriod);
    turned.primaryAxis = Vec4::direction(0, 1, 0);
    const struct {
        const char* name;
        LatticeDetectionResult b;
        bool usable;
    } cases[] = {
        {"a frame later", plateAt(kPeriod), true},
        {"lattice lost", LatticeDetectionResult{}, false},
        {"axes turned by 90 degrees", turned, false},
        {"moved 0.1 m", plateAt(0.2), false},
    };
    for (const auto& c : cases) {
        const std::optional<LatticeDetectionResult> between = tavorin::interpolateDetection(a, c.b, 0.5f);
        EXPECT_EQ(between.has_value(), c.usable) << c.name;
    }
}

TEST(ObservationTimeline, ARecordingThatStartsOverRestartsTheTimeline)
{
    ObservationTimeline timeline(2, 0);
    for (double t : {1.0, 1.0 + kPeriod, 0.0, kPeriod})
        timeline.add({t, t}, {plateAt(t), plateAt(t)});
    EXPECT_EQ(timeline.resolvedCount(), 4u);
    timeline.add({kPeriod, kPeriod}, {plateAt(kPeriod), plateAt(kPeriod)});
    EXPECT_EQ(timeline.resolvedCount(), 4u) << "a repeated frame counts once";
    EXPECT_NEAR(timeline.lastSpread(), 0.0, 1e-12);
}

} // namespace

// A plate turning at 60 degrees per second about an axis 0.3 m beside it (its centre on a circle):
// four frames carry it to an instant between the middle two within micrometres, where the two
// middle frames alone cut the circle short by the sagitta (46 um).
TEST(ObservationTimeline, AFourFrameCubicFollowsACurvedPath)
{
    constexpr double kTurnPerSecond = 60.0 * 3.14159265358979 / 180.0;
    const auto plateAtTurn = [&](double t) {
        const tavorin::Mat4 turn = translate(
            rotate(translate(tavorin::Mat4(), -0.3f, 0.0f, -1.5f), static_cast<float>(kTurnPerSecond * t), tavorin::AxisY),
            0.3f, 0.0f, 1.5f);
        LatticeDetectionResult plate = slidingPlateAt(0.0, 0.0f);
        for (Vec4& hole : plate.holes)
            hole = turn * hole;
        plate.origin = turn * plate.origin;
        plate.primaryAxis = turn * plate.primaryAxis;
        plate.secondaryAxis = turn * plate.secondaryAxis;
        plate.normal = turn * plate.normal;
        return plate;
    };
    std::vector<LatticeDetectionResult> frames;
    std::vector<tavorin::TimedDetection> timed;
    for (int k = 0; k < 4; ++k)
        frames.push_back(plateAtTurn(k * kPeriod));
    for (int k = 0; k < 4; ++k)
        timed.push_back({k * kPeriod, &frames[static_cast<std::size_t>(k)]});
    const double t = 1.5 * kPeriod;
    const LatticeDetectionResult truth = plateAtTurn(t);
    const auto largestError = [&](const std::optional<LatticeDetectionResult>& observation) {
        float largest = 0.0f;
        for (std::size_t h = 0; h < truth.holes.size(); ++h)
            largest = std::max(largest, distance(observation->holes[h], truth.holes[h]));
        return largest;
    };
    const auto cubic = tavorin::interpolateAlong(timed, 1, t);
    const auto line = tavorin::interpolateAlong({timed[1], timed[2]}, 0, t);
    ASSERT_TRUE(cubic && line);
    EXPECT_LT(largestError(cubic), 3e-6f);
    EXPECT_GT(largestError(line), 3e-5f);
}
