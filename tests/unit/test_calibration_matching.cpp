#include "calibration/registration/GridHoleMatching.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using tavorin::approxEqual, tavorin::AxisX, tavorin::AxisY, tavorin::cross, tavorin::distance, tavorin::inverse,
    tavorin::latticeAxisPoints, tavorin::LatticeDetectionResult, tavorin::Mat4,
    tavorin::matchAllGridHoles_ByRoughRegistration, tavorin::normalize, tavorin::rotate, tavorin::translate,
    tavorin::Vec4;

namespace {

bool isMissing(const Vec4& p)
{
    return std::isnan(p.x) && std::isnan(p.y) && std::isnan(p.z) && p.w == 1.0f;
}

// A detection of the 25 holes in the frame of a camera at T_world_camera, the plate centred at
// the world origin in the x-y plane with the handle along +x; `fromBack`: the camera looks at the
// plate's other face, so its normal (toward the camera) and its secondary axis are mirrored.
LatticeDetectionResult plateSeenBy(const Mat4& T_world_camera, bool fromBack)
{
    const Mat4 T_camera_world = inverse(T_world_camera);
    LatticeDetectionResult result;
    result.found = true;
    result.origin = T_camera_world * Vec4::point(0, 0, 0);
    result.primaryAxis = T_camera_world * Vec4::direction(1, 0, 0);
    result.normal = T_camera_world * Vec4::direction(0, 0, fromBack ? 1.0f : -1.0f);
    result.secondaryAxis = normalize(cross(result.primaryAxis, result.normal));
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 5; ++k)
            result.holes.push_back(T_camera_world * Vec4::point(0.08f * (i - 2), 0.08f * (k - 2), 0.0f));
    return result;
}

TEST(GridHoleMatching, AxisPointsAreTheCentreAndAPointAlongThePrimaryAxisOrMissing)
{
    LatticeDetectionResult found;
    found.found = true;
    found.origin = Vec4::point(1, 2, 3);
    found.primaryAxis = Vec4::direction(0, 1, 0);
    const std::vector<std::vector<Vec4>> points = latticeAxisPoints({found, LatticeDetectionResult{}});
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0][0], Vec4::point(1, 2, 3));
    EXPECT_TRUE(approxEqual(points[0][1], Vec4::point(1, 2.2f, 3)));
    EXPECT_EQ(points[0][1].w, 1.0f);
    ASSERT_EQ(points[1].size(), 2u);
    EXPECT_TRUE(isMissing(points[1][0]) && isMissing(points[1][1]));
}

TEST(GridHoleMatching, SizeMismatchesAreReportedAndYieldNothing)
{
    const LatticeDetectionResult r = plateSeenBy(Mat4::identity(), false);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(matchAllGridHoles_ByRoughRegistration({Mat4(), Mat4(), Mat4()}, {r, r}, 0).empty());
    EXPECT_TRUE(matchAllGridHoles_ByRoughRegistration({Mat4()}, {r}, 0).empty());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "matchAllGridHoles_ByRoughRegistration: Both input arrays must have the same size!\n"
              "matchAllGridHoles_ByRoughRegistration: There must be at least 2 array elements for registration!\n");
}

TEST(GridHoleMatching, CamerasOnBothSidesListTheSamePhysicalHoles)
{
    const Mat4 T_world_front = translate(Mat4::identity(), 0.1f, 0.0f, -1.5f);
    const Mat4 T_world_back = translate(rotate(rotate(Mat4::identity(), 3.14159265f, AxisY), 0.4f, AxisX), 0, 0.2f, 1.6f);
    const Mat4 T_world_side = translate(rotate(Mat4::identity(), 0.7f, AxisY), -1.2f, 0.0f, -1.0f);
    const std::vector<Mat4> cameras = {T_world_front, T_world_back, T_world_side};
    std::vector<LatticeDetectionResult> results = {plateSeenBy(T_world_front, false), plateSeenBy(T_world_back, true),
                                                   plateSeenBy(T_world_side, false)};
    // Rough transforms into camera 0's frame, as the rough registration would give them.
    std::vector<Mat4> rough;
    for (const Mat4& T_world_camera : cameras)
        rough.push_back(inverse(T_world_front) * T_world_camera);

    const std::vector<std::vector<Vec4>> grid = matchAllGridHoles_ByRoughRegistration(rough, results, 0);
    ASSERT_EQ(grid.size(), 3u);
    for (std::size_t c = 0; c < 3; ++c) {
        ASSERT_EQ(grid[c].size(), 25u);
        for (std::size_t k = 0; k < 25; ++k) {
            const Vec4 inWorld = cameras[c] * grid[c][k];
            const Vec4 reference = cameras[0] * grid[0][k];
            EXPECT_LT(distance(inWorld, reference), 1e-4f) << "camera " << c << " hole " << k;
        }
    }
    // Row i runs along the primary axis (+x), step k along the secondary axis.
    EXPECT_TRUE(approxEqual(cameras[0] * grid[0][0], Vec4::point(-0.16f, -0.16f, 0.0f)));
}

TEST(GridHoleMatching, AHoleMustLieCloserThanThreeCentimetresToItsGridPosition)
{
    LatticeDetectionResult r = plateSeenBy(Mat4::identity(), false);
    r.holes = {r.origin + Vec4::direction(0.0299f, 0.0f, 0.0f)};
    LatticeDetectionResult farther = r;
    farther.holes = {r.origin + Vec4::direction(0.0301f, 0.0f, 0.0f)};
    const std::vector<std::vector<Vec4>> grid =
        matchAllGridHoles_ByRoughRegistration({Mat4(), Mat4()}, {r, farther}, 0);
    ASSERT_EQ(grid.size(), 2u);
    EXPECT_TRUE(approxEqual(grid[0][12], r.holes[0])) << "centre position takes the hole 0.0299 away";
    EXPECT_TRUE(isMissing(grid[1][12])) << "0.0301 away is no match";
    for (std::size_t k = 0; k < 25; ++k) {
        if (k != 12) {
            EXPECT_TRUE(isMissing(grid[0][k]));
        }
    }
}

TEST(GridHoleMatching, ACameraWithoutLatticeGivesMissingPoints)
{
    const std::vector<std::vector<Vec4>> grid = matchAllGridHoles_ByRoughRegistration(
        {Mat4(), Mat4()}, {plateSeenBy(Mat4::identity(), false), LatticeDetectionResult{}}, 0);
    ASSERT_EQ(grid.size(), 2u);
    for (const Vec4& p : grid[1])
        EXPECT_TRUE(isMissing(p));
}

} // namespace
