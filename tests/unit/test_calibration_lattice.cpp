#include "calibration/detection/LatticeDetection.h"

#include "test_calibration_plate_scene.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

using tavorin::AxisY, tavorin::AxisZ, tavorin::cross, tavorin::detectLattice, tavorin::distance, tavorin::dot,
    tavorin::LatticeDetectionResult, tavorin::length, tavorin::lengthSquared, tavorin::normalize, tavorin::PointImage,
    tavorin::Vec4;

namespace {

constexpr float kDegree = 3.14159265358979f / 180.0f;

float angleDegrees(const Vec4& a, const Vec4& b)
{
    const float c = dot(normalize(a), normalize(b));
    return std::acos(std::max(-1.0f, std::min(1.0f, c))) / kDegree;
}

LatticeDetectionResult detect(const PlateScene& scene)
{
    return detectLattice(scene.image());
}

struct HoleErrors {
    float inPlane = 0.0f;     // metres, largest over the 25 true holes
    float alongNormal = 0.0f; // metres
};

// For every true hole centre, the detected hole nearest to it, split into the error within the
// plate plane and along its normal.
HoleErrors worstHoleErrors(const LatticeDetectionResult& result, const PlatePose& pose)
{
    HoleErrors worst;
    for (int i = 0; i < 5; ++i) {
        for (int k = 0; k < 5; ++k) {
            const Vec4 truth = PlateScene::holeCentre(pose, i, k);
            Vec4 nearest = Vec4::direction(1.0f, 1.0f, 1.0f);
            for (const Vec4& hole : result.holes)
                if (length(hole - truth) < length(nearest))
                    nearest = hole - truth;
            const float normalPart = std::fabs(dot(nearest, pose.normal()));
            worst.alongNormal = std::max(worst.alongNormal, normalPart);
            worst.inPlane = std::max(worst.inPlane, std::sqrt(std::max(0.0f, lengthSquared(nearest) - normalPart * normalPart)));
        }
    }
    return worst;
}

// One noisy frame: the fine plane is refitted by least squares on the consensus's inliers, so along
// the normal the holes hold to a fraction of the depth noise (the consensus plane alone, through
// three sampled points, was tilted by up to a degree and missed by several millimetres); within
// the plane to about one pixel.
void expectPlateFrame(const LatticeDetectionResult& result, const PlatePose& pose)
{
    constexpr float kInPlaneTolerance = 0.0015f;
    constexpr float kAlongNormalTolerance = 0.0002f;
    constexpr float kOriginTolerance = kInPlaneTolerance;
    constexpr float kNormalToleranceDegrees = 0.05f;
    constexpr float kAxisToleranceDegrees = 1.5f;
    ASSERT_TRUE(result.found);
    EXPECT_EQ(result.holes.size(), 25u);
    const HoleErrors errors = worstHoleErrors(result, pose);
    EXPECT_LT(errors.inPlane, kInPlaneTolerance);
    EXPECT_LT(errors.alongNormal, kAlongNormalTolerance);
    EXPECT_LT(distance(result.origin, pose.centre), kOriginTolerance);
    EXPECT_LT(angleDegrees(result.primaryAxis, pose.a), kAxisToleranceDegrees) << "primary axis points at the handle";
    EXPECT_LE(result.normal.z, 0.0f);
    EXPECT_LT(std::min(angleDegrees(result.normal, pose.normal()), angleDegrees(result.normal, -pose.normal())),
              kNormalToleranceDegrees);
    EXPECT_NEAR(dot(cross(result.primaryAxis, result.secondaryAxis), result.normal), -1.0f, 1e-3f)
        << "secondary = cross(primary, normal)";
}

TEST(LatticeDetection, FindsAFrontalPlateAndItsHoles)
{
    PlateScene scene;
    const PlatePose pose;
    scene.renderPlate(pose);
    expectPlateFrame(detect(scene), pose);
}

TEST(LatticeDetection, FindsATiltedTurnedNoisyPlate)
{
    for (const float tiltDegrees : {-40.0f, 25.0f}) {
        for (const float turnDegrees : {30.0f, 135.0f, 250.0f}) {
            PlateScene scene;
            PlatePose pose = PlatePose{}.turned(turnDegrees * kDegree, AxisZ).turned(tiltDegrees * kDegree, AxisY);
            pose.centre = Vec4::point(0.1f, -0.05f, 1.7f);
            scene.renderPlate(pose, 0.0015f, 7);
            SCOPED_TRACE("tilt " + std::to_string(tiltDegrees) + " turn " + std::to_string(turnDegrees));
            expectPlateFrame(detect(scene), pose);
        }
    }
}

TEST(LatticeDetection, HoleMustSpanFewerThanTwentyRows)
{
    // 4 cm at f = 504 px: 21 rows at 0.95 m, 18 rows at 1.12 m.
    PlateScene near;
    PlatePose nearPose;
    nearPose.centre = Vec4::point(0.0f, 0.0f, 0.95f);
    near.renderPlate(nearPose);
    EXPECT_FALSE(detect(near).found);

    PlateScene far;
    PlatePose farPose;
    farPose.centre = Vec4::point(0.0f, 0.0f, 1.12f);
    far.renderPlate(farPose);
    EXPECT_TRUE(detect(far).found);
}

TEST(LatticeDetection, RejectsAGridWiderThanTheLattice)
{
    PlateScene scene;
    scene.holesAlongB = 7;
    scene.renderPlate(PlatePose{});
    EXPECT_FALSE(detect(scene).found);
}

TEST(LatticeDetection, WithoutRingPointsTheAxesFallBackToTheLastChoice)
{
    PlateScene scene;
    scene.withHandle = false;
    scene.renderPlate(PlatePose{}.turned(20.0f * kDegree, AxisZ));
    const LatticeDetectionResult result = detect(scene);
    ASSERT_TRUE(result.found);
    EXPECT_TRUE(std::isnan(result.ringOffset.x));
    // (primary, secondary) = (-P, O) with P = cross(O, n): so cross(secondary, n) = -primary.
    const Vec4 p = normalize(cross(result.secondaryAxis, result.normal));
    EXPECT_LT(angleDegrees(p, -result.primaryAxis), 0.01f);
}

TEST(LatticeDetection, ImagesWithoutAPlateYieldTheEmptyResultAndOneRuntimeLine)
{
    std::vector<float> nanPoints(PlateScene::kWidth * PlateScene::kHeight * 3, std::numeric_limits<float>::quiet_NaN());
    PlateScene singleRowSource;
    singleRowSource.renderPlate(PlatePose{});
    const std::vector<PointImage> images = {
        PointImage{},
        PointImage{nanPoints.data(), PlateScene::kWidth, PlateScene::kHeight},
        // The middle row of a plate image on its own: runs and gaps, but never a cluster.
        PointImage{singleRowSource.points.data() + 3 * PlateScene::kWidth * 288, PlateScene::kWidth, 1},
    };
    for (const PointImage& image : images) {
        testing::internal::CaptureStdout();
        const LatticeDetectionResult result = detectLattice(image);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(result.found);
        EXPECT_TRUE(result.holes.empty());
        EXPECT_EQ(result.origin, Vec4());
        EXPECT_EQ(result.normal, Vec4());
        EXPECT_EQ(out.rfind("Lattice Detection Runtime: ", 0), 0u) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    }
}

} // namespace
