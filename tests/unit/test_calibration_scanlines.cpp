#include "calibration/detection/LatticeScanlines.h"

#include "calibration/detection/PixelWindow.h"

#include "test_calibration_plate_scene.h"

#include <gtest/gtest.h>

#include <functional>

#include <cmath>

using tavorin::AxisY, tavorin::AxisZ, tavorin::clusterGaps, tavorin::findGaps, tavorin::findRoot,
    tavorin::gapsNearGaps, tavorin::PixelRun, tavorin::PixelWindow, tavorin::PointImage, tavorin::Scanline3D,
    tavorin::splitRuns, tavorin::unite, tavorin::Vec4, tavorin::windowAround;

namespace {

constexpr float kPixelPitch = 0.005f; // metres between neighbouring plate pixels
constexpr float kDepth = 1.5f;

// One image row built from pieces: plate runs of a given length and holes of out-of-range pixels.
struct Row {
    std::vector<float> points;
    float x = 0.0f;

    int pixels() const { return static_cast<int>(points.size() / 3); }
    // A plate run whose end points lie `length` metres apart; returns its first and last pixel.
    PixelRun plate(float length)
    {
        const int count = static_cast<int>(std::lround(length / kPixelPitch)) + 1;
        const float step = length / static_cast<float>(count - 1);
        const int first = pixels();
        const float start = x;
        for (int i = 0; i < count; ++i)
            points.insert(points.end(), {start + step * static_cast<float>(i), 0.0f, kDepth});
        x = start + length;
        return PixelRun{first, pixels() - 1};
    }
    // `count` pixels without depth; the next plate run starts (count + 1) pitches on.
    void hole(int count)
    {
        for (int i = 0; i < count; ++i)
            points.insert(points.end(), {0.0f, 0.0f, 0.0f});
        x += kPixelPitch * static_cast<float>(count + 1);
    }
    PointImage image() const { return PointImage{points.data(), pixels(), 1}; }
};

std::vector<PixelRun> runsOf(const Row& row)
{
    std::vector<PixelRun> runs;
    splitRuns(row.image(), 0, runs);
    return runs;
}

std::vector<std::pair<int, int>> gapsOf(const Row& row)
{
    std::vector<PixelRun> gaps;
    findGaps(row.image(), runsOf(row), gaps);
    std::vector<std::pair<int, int>> result;
    for (const PixelRun& gap : gaps)
        result.emplace_back(gap.start, gap.end);
    return result;
}

TEST(LatticeScanlines, AHoleIsNoticedOnlyAfterTwoValidRunsOfItsRow)
{
    Row row;
    const PixelRun a = row.plate(0.04f);
    row.hole(7); // 4 cm across: bridged
    const PixelRun b = row.plate(0.04f);
    row.hole(7);
    const PixelRun c = row.plate(0.04f);
    row.hole(7);
    const PixelRun d = row.plate(0.04f);

    const std::vector<PixelRun> runs = runsOf(row);
    ASSERT_EQ(runs.size(), 7u) << "four plate runs and three runs of empty pixels";
    EXPECT_EQ(runs[0].start, a.start);
    EXPECT_EQ(runs[0].end, a.end);
    EXPECT_EQ(runs[6].end, d.end);
    EXPECT_EQ(gapsOf(row), (std::vector<std::pair<int, int>>{{b.end, c.start}, {c.end, d.start}}));
}

TEST(LatticeScanlines, RunsOutsideTheValidLengthsNeitherStartNorEndAGap)
{
    for (const float tooLong : {0.351f, 0.5f}) {
        Row row;
        row.plate(0.04f);
        row.hole(7);
        row.plate(tooLong);
        row.hole(7);
        const PixelRun c = row.plate(0.04f);
        row.hole(7);
        const PixelRun d = row.plate(0.04f);
        EXPECT_EQ(gapsOf(row), (std::vector<std::pair<int, int>>{{c.end, d.start}})) << tooLong;
    }
    Row justValid;
    justValid.plate(0.04f);
    justValid.hole(7);
    const PixelRun b = justValid.plate(0.349f);
    justValid.hole(7);
    const PixelRun c = justValid.plate(0.036f);
    EXPECT_EQ(gapsOf(justValid), (std::vector<std::pair<int, int>>{{b.end, c.start}}));

    Row tooShort;
    tooShort.plate(0.04f);
    tooShort.hole(7);
    tooShort.plate(0.04f);
    tooShort.hole(7);
    tooShort.plate(0.034f);
    EXPECT_TRUE(gapsOf(tooShort).empty());
}

TEST(LatticeScanlines, AHoleWiderThanTheBridgeIsNoGap)
{
    Row row;
    row.plate(0.04f);
    row.hole(7);
    row.plate(0.04f);
    row.hole(9); // 5 cm
    row.plate(0.04f);
    EXPECT_TRUE(gapsOf(row).empty());
}

TEST(LatticeScanlines, GapsJoinOnlyBelowTwelveCentimetres)
{
    const std::vector<Vec4> midpoints = {Vec4::point(0, 0, 1.5f), Vec4::point(0.12f, 0, 1.5f),
                                         Vec4::point(0.12f, 0.1199f, 1.5f), Vec4::point(0.5f, 0.5f, 1.5f)};
    std::vector<std::shared_ptr<Scanline3D>> gaps;
    for (int i = 0; i < 4; ++i)
        gaps.push_back(Scanline3D::create(i, i));
    clusterGaps(gaps, midpoints);
    EXPECT_NE(findRoot(gaps[0]), findRoot(gaps[1])) << "exactly 0.12 apart";
    EXPECT_EQ(findRoot(gaps[1]), findRoot(gaps[2]));
    EXPECT_NE(findRoot(gaps[3]), findRoot(gaps[1]));
    EXPECT_EQ(findRoot(gaps[1])->setSize, 2);
}

TEST(Scanline3D, UnionBySizeKeepsTheLargerRootAndTheFirstOnTies)
{
    std::vector<std::shared_ptr<Scanline3D>> nodes;
    for (int i = 0; i < 5; ++i)
        nodes.push_back(Scanline3D::create(i, i));
    unite(nodes[0], nodes[1]);
    EXPECT_EQ(findRoot(nodes[1]), nodes[0]) << "tie: the second root goes under the first";
    unite(nodes[2], nodes[0]);
    EXPECT_EQ(findRoot(nodes[2]), nodes[0]) << "the smaller set goes under the larger";
    EXPECT_EQ(nodes[0]->setSize, 3);
    unite(nodes[3], nodes[4]);
    unite(nodes[4], nodes[1]);
    EXPECT_EQ(nodes[0]->setSize, 5);
    for (const auto& node : nodes)
        EXPECT_EQ(findRoot(node), nodes[0]);
    EXPECT_EQ(nodes[2]->shared_from_this(), nodes[2]);
}

// Searching every fourth row and then the rows around gaps finds every gap of the plate's rows.
TEST(LatticeScanlines, TheSearchedRowsHoldEveryGapOfThePlate)
{
    constexpr float kDegree = 3.14159265358979f / 180.0f;
    struct Case {
        float depth, tiltDegrees, turnDegrees;
    };
    for (const Case& c : {Case{1.0f, 0.0f, 0.0f}, Case{1.6f, 25.0f, 30.0f}, Case{1.6f, -45.0f, 135.0f},
                          Case{2.4f, 40.0f, 250.0f}}) {
        PlateScene scene;
        PlatePose pose = PlatePose{}.turned(c.turnDegrees * kDegree, AxisZ).turned(c.tiltDegrees * kDegree, AxisY);
        pose.centre = Vec4::point(0.1f, -0.05f, c.depth);
        scene.renderPlate(pose);
        scene.renderWallBehind(c.depth + 0.8f);
        std::vector<PixelRun> everyRow;
        for (int row = 0; row < PlateScene::kHeight; ++row) {
            std::vector<PixelRun> runs;
            splitRuns(scene.image(), row, runs);
            findGaps(scene.image(), runs, everyRow);
        }
        const std::vector<PixelRun> searched = gapsNearGaps(scene.image());
        ASSERT_FALSE(everyRow.empty());
        ASSERT_EQ(searched.size(), everyRow.size()) << "depth " << c.depth << " tilt " << c.tiltDegrees;
        for (std::size_t g = 0; g < searched.size(); ++g)
            EXPECT_EQ(searched[g].start, everyRow[g].start);
    }
    PlateScene wall;
    wall.renderWallBehind(3.0f);
    EXPECT_TRUE(gapsNearGaps(wall.image()).empty());
}

// The window holds every pixel of a patch that passes, seeded or met by the grid of every fourth
// pixel, and reaches at most one grid step beyond it.
TEST(PixelWindow, HoldsEveryPassingPixelJoinedToTheSeedOrTheGrid)
{
    constexpr int kWidth = 40;
    constexpr int kHeight = 30;
    constexpr int kGridStep = 4;
    struct Case {
        const char* name;
        std::function<bool(int row, int column)> passes;
        PixelWindow seed;
        PixelWindow patch; // the bounding box of the passing pixels
    };
    const std::vector<Case> cases = {
        {"block", [](int r, int c) { return r >= 5 && r <= 13 && c >= 6 && c <= 21; }, {}, {5, 13, 6, 21}},
        {"thin diagonal off the grid, seeded at one end", [](int r, int c) { return c == r + 5 && r >= 1 && r <= 22; },
         {1, 1, 6, 6}, {1, 22, 6, 27}},
        {"block at the image's corner", [](int r, int c) { return r >= 17 && c >= 31; }, {}, {17, 29, 31, 39}},
    };
    const std::vector<float> points(kWidth * kHeight * 3, 0.0f);
    const PointImage image{points.data(), kWidth, kHeight};
    for (const Case& c : cases) {
        const PixelWindow window =
            windowAround(image, c.seed, [&](std::int32_t i) { return c.passes(i / kWidth, i % kWidth); });
        EXPECT_LE(window.firstRow, c.patch.firstRow) << c.name;
        EXPECT_GE(window.lastRow, c.patch.lastRow) << c.name;
        EXPECT_LE(window.firstColumn, c.patch.firstColumn) << c.name;
        EXPECT_GE(window.lastColumn, c.patch.lastColumn) << c.name;
        EXPECT_GE(window.firstRow, c.patch.firstRow - kGridStep) << c.name;
        EXPECT_LE(window.lastRow, c.patch.lastRow + kGridStep) << c.name;
        EXPECT_GE(window.firstColumn, c.patch.firstColumn - kGridStep) << c.name;
        EXPECT_LE(window.lastColumn, c.patch.lastColumn + kGridStep) << c.name;
    }
}

} // namespace
