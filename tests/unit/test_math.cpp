#include "math/Mat4.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

using tavorin::alignDirection, tavorin::approxEqual, tavorin::AxisX, tavorin::AxisY, tavorin::AxisZ, tavorin::cross,
    tavorin::determinant, tavorin::distance, tavorin::dot, tavorin::formatMatrix, tavorin::inverse,
    tavorin::lookAtModel, tavorin::Mat4, tavorin::normalize, tavorin::rotate, tavorin::scale, tavorin::translate,
    tavorin::transpose, tavorin::Vec4;

namespace {

constexpr float kPi = 3.14159265358979f;

void expectNear(const Vec4& actual, const Vec4& expected, float tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
    EXPECT_NEAR(actual.w, expected.w, tolerance);
}

void expectNear(const Mat4& actual, const Mat4& expected, float tolerance = 1e-5f)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(actual.m[i], expected.m[i], tolerance) << "element " << i;
}

} // namespace

TEST(Vec4Arithmetic, PointAndDirectionMarkersStayWithinZeroAndOne)
{
    EXPECT_EQ((Vec4(1, 2, 3, 1) - Vec4(0, 0, 0, 1)).w, 0.0f);
    EXPECT_EQ((Vec4(1, 2, 3, 0) - Vec4(0, 0, 0, 1)).w, 0.0f) << "direction minus point clamps, not -1";
    EXPECT_EQ((Vec4(1, 2, 3, 1) + Vec4(4, 5, 6, 1)).w, 1.0f) << "point plus point clamps, not 2";
    EXPECT_EQ((Vec4(1, 2, 3, 1) + Vec4(4, 5, 6, 0)).w, 1.0f);
    expectNear(-Vec4(1, -2, 3, 1), Vec4(-1, 2, -3, 1));
    expectNear(Vec4(2, 4, 6, 1) / 2.0f, Vec4(1, 2, 3, 1));
}

TEST(Vec4Arithmetic, NormalizeBelowThresholdGivesTheOriginPoint)
{
    const Vec4 n = normalize(Vec4(3, 0, 4, 1));
    expectNear(n, Vec4(0.6f, 0, 0.8f, 0));
    EXPECT_TRUE(normalize(Vec4(0.0001f, 0, 0, 0)) == Vec4(0, 0, 0, 1)) << "a point, not a direction";
}

TEST(Vec4Arithmetic, ProductsAndComparisons)
{
    expectNear(cross(Vec4(1, 0, 0, 1), Vec4(0, 1, 0, 1)), Vec4(0, 0, 1, 0));
    EXPECT_FLOAT_EQ(dot(Vec4(1, 2, 3, 7), Vec4(4, 5, 6, 9)), 32.0f) << "w is ignored";
    EXPECT_FLOAT_EQ(distance(Vec4(1, 1, 1, 1), Vec4(4, 5, 1, 0)), 5.0f);
    EXPECT_TRUE(approxEqual(Vec4(0, 0, 0.0009f, 1), Vec4(0, 0, 0, 0)));
    EXPECT_FALSE(approxEqual(Vec4(0, 0, 0.0011f, 1), Vec4(0, 0, 0, 1)));
    EXPECT_TRUE(Vec4(0, 0, 0, 1) != Vec4(0, 0, 0, 0));
    EXPECT_TRUE(Vec4(NAN, 0, 0, 1) != Vec4(NAN, 0, 0, 1)) << "a NaN component always differs";
}

TEST(Mat4Transforms, TranslateRotateScaleApplyAfterTheExistingTransform)
{
    // First rotate +90 degrees about Z, then translate: (1, 0, 0) -> (0, 1, 0) -> (10, 1, 0).
    Mat4 m = rotate(Mat4(), kPi / 2, AxisZ);
    m = translate(m, 10, 0, 0);
    expectNear(m * Vec4::point(1, 0, 0), Vec4::point(10, 1, 0));
    expectNear(m * Vec4::direction(1, 0, 0), Vec4::direction(0, 1, 0)); // directions ignore translation

    // Counter-clockwise looking down each axis toward the origin.
    expectNear(rotate(Mat4(), kPi / 2, AxisX) * Vec4::point(0, 1, 0), Vec4::point(0, 0, 1));
    expectNear(rotate(Mat4(), kPi / 2, AxisY) * Vec4::point(0, 0, 1), Vec4::point(1, 0, 0));
    expectNear(rotate(Mat4(), 1.0f, 7), Mat4()); // an unknown axis rotates by the identity
    expectNear(scale(translate(Mat4(), 1, 2, 3), 2, 3, 4) * Vec4::point(0, 0, 0), Vec4::point(2, 6, 12));
}

TEST(Mat4Transforms, StorageIsColumnMajor)
{
    const Mat4 t = translate(Mat4(), 1, 2, 3);
    EXPECT_EQ(t.m[12], 1.0f);
    EXPECT_EQ(t.m[13], 2.0f);
    EXPECT_EQ(t.m[14], 3.0f);
    const Mat4 r = rotate(Mat4(), 0.5f, AxisX);
    EXPECT_FLOAT_EQ(r.at(1, 2), std::sin(0.5f));
    EXPECT_FLOAT_EQ(transpose(r).at(2, 1), std::sin(0.5f));
}

TEST(Mat4Inverse, RecoversRigidTransformsAndRefusesSingularOnes)
{
    Mat4 m = rotate(Mat4(), 0.3f, AxisX);
    m = rotate(m, -1.1f, AxisY);
    m = translate(m, 0.5f, -2.0f, 3.0f);
    expectNear(inverse(m) * m, Mat4(), 1e-5f);
    expectNear(m * inverse(m), Mat4(), 1e-5f);

    // Determinant 0.00005 lies inside the singular band.
    const Mat4 nearlySingular = scale(Mat4(), 0.00005f, 1, 1);
    EXPECT_NEAR(determinant(nearlySingular), 0.00005f, 1e-9f);
    EXPECT_TRUE(inverse(nearlySingular) == Mat4());
    // Just outside the band it inverts.
    EXPECT_NEAR(inverse(scale(Mat4(), 0.0002f, 1, 1)).m[0], 5000.0f, 0.5f);
}

TEST(Mat4Frames, AlignDirectionCarriesFromOntoTo)
{
    const Vec4 up = Vec4::direction(0, 1, 0);
    const Vec4 from = Vec4::direction(0, 0, 1);
    const Vec4 to = normalize(Vec4::direction(1, 0, 1));
    const Mat4 r = alignDirection(from, to, up);
    expectNear(r * from, to);
    EXPECT_NEAR(determinant(r), 1.0f, 1e-5f);

    // `from` equal to `up` uses the identity frame for it: the result is F(to) alone.
    const Mat4 fromUp = alignDirection(up, Vec4::direction(1, 0, 0), up);
    expectNear(fromUp * Vec4::direction(1, 0, 0), Vec4::direction(1, 0, 0));
}

TEST(Mat4Frames, LookAtModelPointsMinusZAtTheTarget)
{
    const Vec4 eye = Vec4::point(2, 1.8f, 2);
    const Mat4 model = lookAtModel(eye, Vec4::point(0, 0, 0), Vec4::direction(0, 1, 0));
    expectNear(model * Vec4::point(0, 0, 0), eye);
    const Vec4 forward = model * Vec4::direction(0, 0, -1);
    expectNear(forward, normalize(Vec4::point(0, 0, 0) - eye));
}

TEST(Mat4Print, LabelRowsTabSeparatedThenEmptyLine)
{
    const Mat4 t = translate(Mat4(), 1.5f, -2, 0.25f);
    EXPECT_EQ(formatMatrix("TubusMatrix", t),
              "TubusMatrix\n1\t0\t0\t1.5\n0\t1\t0\t-2\n0\t0\t1\t0.25\n0\t0\t0\t1\n\n");
}

TEST(Mat4Construction, FromSequenceAndAxes)
{
    std::vector<float> values(16);
    for (int i = 0; i < 16; ++i)
        values[static_cast<std::size_t>(i)] = static_cast<float>(i);
    const Mat4 m(std::move(values));
    EXPECT_EQ(m.at(3, 1), 13.0f);
    EXPECT_TRUE(values.empty()) << "the sequence is consumed";

    const Mat4 f = Mat4::fromAxes(Vec4(1, 2, 3, 1), Vec4(4, 5, 6, 1), Vec4(7, 8, 9, 1), Vec4(10, 11, 12, 0));
    EXPECT_EQ(f.at(0, 3), 0.0f);
    EXPECT_EQ(f.at(3, 3), 1.0f);
    EXPECT_EQ(f.at(2, 1), 8.0f);
}
