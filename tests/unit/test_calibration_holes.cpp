#include "calibration/detection/LatticeHoles.h"

#include <gtest/gtest.h>

using tavorin::approxEqual, tavorin::clusterHoleRuns, tavorin::findRoot, tavorin::holeCentres, tavorin::holeRuns,
    tavorin::PixelRun, tavorin::Plane, tavorin::PointImage, tavorin::rowSpans, tavorin::Scanline3D, tavorin::unite,
    tavorin::Vec4;

namespace {

constexpr int kWidth = 100;
constexpr int kHeight = 40;
constexpr float kPitch = 0.003f; // metres between pixels on the plate
constexpr float kDepth = 1.5f;

// A flat plate filling the image at 1.5 m; hole runs are laid on it by index.
struct FlatPlate {
    std::vector<float> points;
    Plane plane{Vec4::direction(0, 0, -1), Vec4::point(0, 0, kDepth)};

    FlatPlate()
    {
        for (int row = 0; row < kHeight; ++row)
            for (int column = 0; column < kWidth; ++column)
                points.insert(points.end(), {kPitch * static_cast<float>(column), -kPitch * static_cast<float>(row), kDepth});
    }
    PointImage image() const { return PointImage{points.data(), kWidth, kHeight}; }
};

// One hole of `rows` rows from row 5 on, each run `length` pixels from column 40, all united.
std::vector<std::shared_ptr<Scanline3D>> hole(int rows, int length)
{
    std::vector<std::shared_ptr<Scanline3D>> runs;
    for (int row = 5; row < 5 + rows; ++row) {
        runs.push_back(Scanline3D::create(row * kWidth + 40, row * kWidth + 40 + length - 1));
        unite(runs.front(), runs.back());
    }
    return runs;
}

// A run of length L contributes L + 2 chord samples.
TEST(LatticeHoles, AHoleNeedsMoreThanTwentyChordSamples)
{
    const FlatPlate plate;
    EXPECT_TRUE(holeCentres(plate.image(), hole(1, 18), plate.plane).empty()) << "20 samples";
    const std::vector<Vec4> centres = holeCentres(plate.image(), hole(1, 19), plate.plane);
    ASSERT_EQ(centres.size(), 1u) << "21 samples";
    // Chord from column 39 to column 59 of row 5.
    EXPECT_TRUE(approxEqual(centres[0], Vec4::point(49.0f * kPitch, -5.0f * kPitch, kDepth)));
    EXPECT_EQ(centres[0].w, 1.0f);
}

TEST(LatticeHoles, AHoleMustSpanFewerThanTwentyRowsAndRuns)
{
    const FlatPlate plate;
    EXPECT_EQ(holeCentres(plate.image(), hole(19, 5), plate.plane).size(), 1u);
    EXPECT_TRUE(holeCentres(plate.image(), hole(20, 5), plate.plane).empty());
    EXPECT_EQ(holeCentres(plate.image(), hole(3, 19), plate.plane).size(), 1u);
    EXPECT_TRUE(holeCentres(plate.image(), hole(3, 20), plate.plane).empty());
}

TEST(LatticeHoles, RunsBetweenPlatePixelsClusterAcrossNeighbouringRows)
{
    // Two rows of plate with one hole run each, overlapping in columns, and a third run two rows
    // further down: two clusters.
    std::vector<std::int32_t> platePixels;
    for (const int row : {2, 3, 5}) {
        for (int column = 10; column < 30; ++column) {
            const bool inHole = column >= 15 + row && column < 20 + row;
            if (!inHole)
                platePixels.push_back(row * kWidth + column);
        }
    }
    const std::vector<PixelRun> spans = rowSpans(platePixels, kWidth);
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[0].start, 2 * kWidth + 10);
    EXPECT_EQ(spans[0].end, 2 * kWidth + 29);
    const auto runs = holeRuns(spans, platePixels, kWidth);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_EQ(runs[0]->start, 2 * kWidth + 17);
    EXPECT_EQ(runs[0]->end, 2 * kWidth + 21);
    clusterHoleRuns(runs, kWidth);
    EXPECT_EQ(findRoot(runs[0]), findRoot(runs[1]));
    EXPECT_NE(findRoot(runs[1]), findRoot(runs[2]));
}

} // namespace
