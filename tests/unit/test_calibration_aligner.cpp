#include "calibration/registration/PointCloudAligner.h"

#include "calibration/registration/GridHoleMatching.h"

#include "test_calibration_transform_error.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

using tavorin::approxEqual, tavorin::AxisX, tavorin::AxisY, tavorin::distance, tavorin::inverse, tavorin::Mat4,
    tavorin::missingPoint, tavorin::PointCloudAligner, tavorin::RegistrationResidual, tavorin::rotate,
    tavorin::translate, tavorin::Vec4;

namespace {

constexpr float kDegree = 3.14159265358979f / 180.0f;

std::vector<Vec4> points(int count, float value)
{
    return std::vector<Vec4>(static_cast<std::size_t>(count), Vec4::point(value, value, value));
}

float translationError(const Mat4& a, const Mat4& b)
{
    return distance(a.translation(), b.translation());
}

std::string stderrOf(const std::function<void()>& action)
{
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

TEST(PointCloudAligner, MisuseIsReportedAndChangesNothing)
{
    PointCloudAligner single(1);
    EXPECT_EQ(stderrOf([&] { EXPECT_TRUE(single.registrate(0, 0.04f).empty()); }),
              "The number of specified point clouds has to be 2 at minimum! Was 1\n");

    PointCloudAligner two(2);
    EXPECT_EQ(stderrOf([&] { two.addCorrespondencePoints({}); }), "No points given (addCorrespondencePoints)!\n");
    EXPECT_EQ(stderrOf([&] { two.addCorrespondencePoints({points(3, 0)}); }),
              "The outer array must match the size of the specified point clouds (addCorrespondencePoints)!\n");
    EXPECT_EQ(stderrOf([&] { two.addCorrespondencePoints({points(2, 0), points(3, 0)}); }),
              "Arrays of different size are given (addCorrespondencePoints)!\n");
    EXPECT_EQ(two.referencePointCount(), 0u);
    EXPECT_EQ(stderrOf([&] { two.addCorrespondencePoints({points(3, 0), points(3, 1)}); }), "");
    EXPECT_EQ(two.referencePointCount(), 3u);

    EXPECT_EQ(stderrOf([&] { EXPECT_TRUE(two.registrate(-1, 0.04f).empty()); }),
              "The given point cloud id doesn't exists. Given point cloud id: -1. Size of point clouds: 2.\n");
    EXPECT_EQ(stderrOf([&] { EXPECT_TRUE(two.registrate(2, 0.04f).empty()); }),
              "The given point cloud id doesn't exists. Given point cloud id: 2. Size of point clouds: 2.\n");
    EXPECT_EQ(stderrOf([&] { EXPECT_TRUE(two.registrate(0, 0.04f).empty()); }),
              "There have to be at least 4 reference points for the specified point cloud id! There were just 3\n");
}

// Three clouds: 0 the target, 1 a known rigid motion of it with noise and outliers, 2 never
// observed (all missing).
TEST(PointCloudAligner, RecoversAKnownRigidTransformDespiteNoiseAndOutliers)
{
    constexpr int kPoints = 300;
    constexpr float kNoise = 0.001f;
    constexpr int kOutlierEvery = 10;
    const Mat4 T_target_source =
        translate(rotate(rotate(Mat4::identity(), 35.0f * kDegree, AxisY), -12.0f * kDegree, AxisX), 0.8f, -0.1f, 0.4f);
    const Mat4 T_source_target = inverse(T_target_source);
    std::mt19937 random(3);
    std::uniform_real_distribution<float> position(-0.5f, 0.5f);
    std::normal_distribution<float> noise(0.0f, kNoise);
    std::vector<Vec4> target, source, unseen;
    for (int k = 0; k < kPoints; ++k) {
        const Vec4 p = Vec4::point(position(random), position(random), 1.5f + position(random));
        target.push_back(p);
        Vec4 q = T_source_target * p + Vec4::direction(noise(random), noise(random), noise(random));
        if (k % kOutlierEvery == 0)
            q = q + Vec4::direction(0.3f, -0.2f, 0.25f);
        source.push_back(q);
        unseen.push_back(missingPoint());
    }
    PointCloudAligner aligner(3);
    aligner.addCorrespondencePoints({target, source, unseen});
    const std::vector<Mat4> transforms = aligner.registrate(0, 0.04f);
    ASSERT_EQ(transforms.size(), 3u);
    EXPECT_EQ(transforms[0], Mat4::identity());
    EXPECT_EQ(transforms[2], Mat4::identity()) << "a cloud never observed keeps its place with the identity";
    EXPECT_LT(rotationErrorDegrees(transforms[1], T_target_source), 0.1f);
    EXPECT_LT(translationError(transforms[1], T_target_source), 0.001f);
    EXPECT_LT(rotationErrorDegrees(inverse(transforms[1]), T_source_target), 0.1f);
    EXPECT_LT(translationError(inverse(transforms[1]), T_source_target), 0.001f);

    const std::vector<RegistrationResidual> residuals = aligner.residuals(transforms, 0, 0.04f);
    ASSERT_EQ(residuals.size(), 3u);
    EXPECT_EQ(residuals[1].inlierCount, static_cast<std::size_t>(kPoints - kPoints / kOutlierEvery));
    EXPECT_NEAR(residuals[1].inlierRms, std::sqrt(3.0) * kNoise, 0.0005);
    EXPECT_EQ(residuals[2].inlierCount, 0u);
}

// Clouds 1 and 2 are cloud 0 shifted. Registering onto cloud 0 first, then onto cloud 1: the
// second target starts afresh for every cloud.
TEST(PointCloudAligner, TheTargetIsAlwaysTheIdentity)
{
    PointCloudAligner aligner(3);
    std::vector<Vec4> a, b, c;
    for (int k = 0; k < 10; ++k) {
        a.push_back(Vec4::point(0.1f * k, 0.05f * k * k, 1.0f + 0.01f * k));
        b.push_back(a.back() + Vec4::direction(0.5f, 0.0f, 0.0f));
        c.push_back(b.back() + Vec4::direction(0.0f, 0.2f, 0.0f));
    }
    aligner.addCorrespondencePoints({a, b, c});
    const std::vector<Mat4> toFirst = aligner.registrate(0, 0.04f);
    ASSERT_EQ(toFirst.size(), 3u);
    EXPECT_EQ(toFirst[0], Mat4::identity());
    EXPECT_TRUE(approxEqual(toFirst[2].translation(), Vec4::point(-0.5f, -0.2f, 0.0f)));
    const std::vector<Mat4> toSecond = aligner.registrate(1, 0.04f);
    ASSERT_EQ(toSecond.size(), 3u);
    EXPECT_EQ(toSecond[1], Mat4::identity());
    EXPECT_TRUE(approxEqual(toSecond[0].translation(), Vec4::point(0.5f, 0.0f, 0.0f)));
    EXPECT_TRUE(approxEqual(toSecond[2].translation(), Vec4::point(0.0f, -0.2f, 0.0f)));
}

// A first frame consistent with a wrong pose is accepted by the first model; once the true pose
// dominates, those pairs must leave the fit, although each update re-classifies only part of the
// older pairs: the bounded registration ends where the full computation does.
TEST(PointCloudAligner, PairsJudgedByAnEarlyModelAreJudgedAgainAsTheTruePoseDominates)
{
    constexpr int kFrames = 100;
    constexpr int kPointsPerFrame = 25;
    const Mat4 T_target_source = translate(rotate(Mat4::identity(), 20.0f * kDegree, AxisY), 0.4f, 0.0f, -0.2f);
    const Mat4 wrong = translate(T_target_source, 0.0f, 0.3f, 0.0f);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> position(-0.3f, 0.3f);
    std::normal_distribution<float> noise(0.0f, 0.001f);
    PointCloudAligner aligner(2);
    for (int frame = 0; frame < kFrames; ++frame) {
        const Mat4 T_source_target = inverse(frame == 0 ? wrong : T_target_source);
        std::vector<Vec4> target, source;
        for (int k = 0; k < kPointsPerFrame; ++k) {
            target.push_back(Vec4::point(position(random), position(random), 1.6f + position(random)));
            source.push_back(T_source_target * target.back() + Vec4::direction(noise(random), noise(random), noise(random)));
        }
        aligner.addCorrespondencePoints({target, source});
        aligner.registrate(0, 0.04f);
    }
    const Mat4 bounded = aligner.registrate(0, 0.04f)[1];
    const Mat4 full = aligner.registrateOverAll(0, 0.04f)[1];
    EXPECT_LT(rotationErrorDegrees(bounded, full), 0.01f);
    EXPECT_LT(translationError(bounded, full), 0.0001f);
    EXPECT_LT(translationError(bounded, T_target_source), 0.0005f);
}

} // namespace
