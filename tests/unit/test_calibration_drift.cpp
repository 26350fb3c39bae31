// The moved-camera check against ground truth: a ceiling camera of the furnished sample room is
// rendered as it stood at calibration and again later, with the room in use, knocked or not. The
// recovered turn and shift are compared with the knock by angle and millimetres.

#include "calibration/drift/DepthStack.h"
#include "calibration/drift/DriftRegistration.h"
#include "calibration/drift/DriftVerdict.h"

#include "sample_scene/SampleCameraCeiling.h"
#include "sample_scene/SampleView.h"

#include "PinholeRays.h"

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <vector>

using namespace tavorin;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 288;
constexpr double kFocal = 252.0; // pixels: the sensor's 75 x 65 degrees at half resolution
constexpr int kFrames = 15;
constexpr double kDegree = M_PI / 180.0;

// The later scene: what changed in the room and what happened to the camera.
struct Later {
    std::string name;
    bool furnished = true;
    bool roomInUse = false;     // the table pushed aside and turned, a person walking
    bool curtain = false;       // a screen in front of the camera hides most of its view
    double turnDeg = 0.0;       // about a skewed axis through the camera's centre
    double shiftMm = 0.0;
    double rangeMm = 0.0;
    DriftVerdict verdict;
    std::string why;            // part of the reason when it cannot be told
};

void PrintTo(const Later& later, std::ostream* out)
{
    *out << later.name;
}

PlatePose plateOutOfSight()
{
    PlatePose plate{Eigen::Vector3d(0.0, -50.0, 0.0), Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitZ(),
                    -Eigen::Vector3d::UnitY()};
    return plate;
}

// kFrames depth images of the view as points of the calibrated convention (-x d, -y d, d).
DepthStack record(sample_scene::SampleView& view, const std::vector<float>& rays, unsigned seed, double startSeconds,
                  bool person)
{
    DepthStack stack(kWidth, kHeight, kFrames);
    std::mt19937 rng(seed);
    std::vector<std::uint16_t> depth(std::size_t(kWidth) * kHeight);
    std::vector<float> points(depth.size() * 4);
    for (int f = 0; f < kFrames; ++f) {
        if (person)
            view.setMoving({sample_scene::walkingPerson(startSeconds + f / 30.0)});
        view.renderDepth(plateOutOfSight(), rng, depth.data());
        for (std::size_t k = 0; k < depth.size(); ++k) {
            const float z = depth[k] / 1000.0f;
            points[4 * k] = -rays[2 * k] * z;
            points[4 * k + 1] = -rays[2 * k + 1] * z;
            points[4 * k + 2] = z;
            points[4 * k + 3] = 1.0f;
        }
        stack.add(points.data(), DepthCorrection{});
    }
    return stack;
}

std::vector<sample_scene::FloorBox> roomFor(const Later& later)
{
    std::vector<sample_scene::FloorBox> boxes = later.furnished ? sample_scene::furnishedRoom()
                                                                : std::vector<sample_scene::FloorBox>{};
    if (later.roomInUse)
        boxes.back() = sample_scene::pushedTable();
    return boxes;
}

class DriftCheck : public ::testing::TestWithParam<Later> {};

TEST_P(DriftCheck, FindsHowTheCameraMoved)
{
    const Later& later = GetParam();
    const std::vector<float> rays = pinholeRays(kWidth, kHeight, kFocal);
    const sample_scene::CameraPose pose = sample_scene::ceilingCameraPose(1, 4);
    sample_scene::SampleView view(pose, kWidth, kHeight, rays);
    view.simulateArtefacts();
    Later calibrated = later;
    calibrated.roomInUse = false;
    view.furnish(roomFor(calibrated));
    const DepthStack before = record(view, rays, 1u, 0.0, false);

    const Eigen::Vector3d axis = Eigen::Vector3d(0.5, 0.8, 0.33).normalized();      // SDK frame
    const Eigen::Vector3d direction = Eigen::Vector3d(0.6, -0.3, 0.74).normalized(); // SDK frame
    sample_scene::CameraPose knocked = pose;
    knocked.R_room_sdk = pose.R_room_sdk * Eigen::AngleAxisd(later.turnDeg * kDegree, axis).toRotationMatrix();
    knocked.position = pose.position + pose.R_room_sdk * direction * (later.shiftMm / 1000.0);
    view.moveCamera(knocked);
    view.setDepthError({later.rangeMm, 0.0});
    std::vector<sample_scene::FloorBox> boxes = roomFor(later);
    if (later.curtain) // a screen across the camera's view of the room's centre, 1 m in front of it
        boxes.push_back({{pose.position.x() - 1.0, pose.position.z()}, {0.05, 2.6, 1.6}, 0.0, {{90, 90, 90}}});
    view.furnish(boxes);
    const DepthStack after = record(view, rays, 2u, 1.0, later.roomInUse);

    const DriftEstimate estimate = estimateDrift(StillView{kWidth, kHeight, before.stillDepthMm()},
                                                 StillView{kWidth, kHeight, after.stillDepthMm()}, after.rays());
    const DriftVerdict verdict = driftVerdict(estimate, DriftLimits{});
    EXPECT_EQ(verdict, later.verdict) << driftVerdictText(estimate, verdict, "the day");
    if (verdict == DriftVerdict::CannotTell) {
        EXPECT_NE(estimate.why.find(later.why), std::string::npos) << estimate.why;
        return;
    }
    // A turn about an axis through the centre does not move the centre.
    EXPECT_NEAR(estimate.turnDeg, later.turnDeg, 0.02);
    EXPECT_NEAR(estimate.shiftMm, later.shiftMm, 0.5);
    EXPECT_NEAR(estimate.rangeOffsetMm, later.rangeMm, 0.5);
    // Forward and inverse: the estimate takes the knocked camera's points back to where they were.
    const Eigen::Matrix3d R_before_after = Eigen::AngleAxisd(later.turnDeg * kDegree, axis).toRotationMatrix();
    const Eigen::Vector3d flip(-1.0, -1.0, 1.0); // SDK frame to the calibrated convention
    const Eigen::Vector3d p(0.3, -0.2, 2.5);
    const Eigen::Vector3d truth = flip.asDiagonal() * (R_before_after * (flip.asDiagonal() * p)
                                                       + direction * (later.shiftMm / 1000.0));
    const Vec4 moved = estimate.T_reference_current * Vec4::point(float(p.x()), float(p.y()), float(p.z()));
    EXPECT_LT((Eigen::Vector3d(moved.x, moved.y, moved.z) - truth).norm() * 1000.0, 0.5 + 2500.0 * 0.02 * kDegree);
}

// Per pixel, what each of 9 frames measured (mm, 0: nothing) and the still depth expected.
TEST(DepthStack, KeepsWhatStayedStillAndLeavesOutWhatMoved)
{
    struct Pixel {
        std::vector<float> framesMm;
        float stillMm;
    };
    const Pixel pixels[] = {
        {{2004, 2001, 2003, 2000, 2002, 2006, 2005, 2007, 2008}, 2004},   // noise only: the median
        {{3000, 3001, 1200, 1210, 3002, 2999, 3000, 3001, 3003}, 3000},   // passed by briefly
        {{3000, 1200, 1210, 1205, 1190, 3002, 1200, 3001, 3003}, 0},      // stood there half the time
        {{0, 0, 0, 0, 0, 2500, 2501, 2502, 2503}, 0},                    // measured in fewer than half
        {{2500, 2530, 2560, 2590, 2620, 2650, 2680, 2710, 2740}, 0},      // moving away
    };
    const std::int32_t count = static_cast<std::int32_t>(std::size(pixels));
    DepthStack stack(count, 1, 9);
    for (std::size_t f = 0; f < 9; ++f) {
        std::vector<float> points(4 * std::size(pixels), 0.0f);
        for (std::size_t k = 0; k < std::size(pixels); ++k) {
            const float z = pixels[k].framesMm[f] / 1000.0f;
            points[4 * k] = 0.1f * z; // a ray of (0.1, -0.05)
            points[4 * k + 1] = -0.05f * z;
            points[4 * k + 2] = z;
        }
        stack.add(points.data(), DepthCorrection{});
    }
    const std::vector<float> still = stack.stillDepthMm();
    for (std::size_t k = 0; k < std::size(pixels); ++k)
        EXPECT_NEAR(still[k], pixels[k].stillMm, 1e-3) << "pixel " << k;
    EXPECT_NEAR(stack.rays()[0], 0.1f, 1e-6);
    EXPECT_NEAR(stack.rays()[1], -0.05f, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    KnockedOrNot, DriftCheck,
    ::testing::Values(
        Later{"RoomInUse", true, true, false, 0.0, 0.0, 0.0, DriftVerdict::InPlace, ""},
        Later{"RangeAlone", true, false, false, 0.0, 0.0, 3.0, DriftVerdict::InPlace, ""},
        Later{"Turned", true, true, false, 0.5, 0.0, 0.0, DriftVerdict::Moved, ""},
        Later{"Shifted", true, true, false, 0.0, 8.0, 0.0, DriftVerdict::Moved, ""},
        Later{"FlatFloorOnly", false, false, false, 0.0, 0.0, 0.0, DriftVerdict::CannotTell, "does not show"},
        Later{"MostlyHidden", true, false, true, 0.0, 0.0, 0.0, DriftVerdict::CannotTell, "too little"}),
    [](const ::testing::TestParamInfo<Later>& info) { return info.param.name; });

} // namespace
