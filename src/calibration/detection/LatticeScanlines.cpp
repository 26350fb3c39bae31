#include "calibration/detection/LatticeScanlines.h"

#include <algorithm>
#include <cmath>

namespace tavorin {

void splitRuns(const PointImage& image, std::int32_t row, std::vector<PixelRun>& runs)
{
    constexpr float kRunSplitSquaredDistance = 0.0025f;
    // A copy the appends cannot alias, so that the pixel loop keeps the array in a register.
    const PointImage rowImage = image;
    const std::int32_t first = row * image.width;
    const std::int32_t end = first + image.width;
    std::int32_t start = first;
    for (std::int32_t i = first + 1; i < end; ++i) {
        if (!(rowImage.squaredDistance(i - 1, i) < kRunSplitSquaredDistance)) {
            runs.push_back(PixelRun{start, i - 1});
            start = i;
        }
    }
    runs.push_back(PixelRun{start, end - 1});
}

void findGaps(const PointImage& image, const std::vector<PixelRun>& runs, std::vector<PixelRun>& gaps)
{
    constexpr float kMinValidRunLength = 0.035f;
    constexpr float kMaxValidRunLength = 0.35f;
    constexpr float kMaxGapBridge = 0.045f;
    constexpr int kRunsBeforeGap = 2;
    int validRuns = 0; // of the current row
    PixelRun lastValid{0, 0};
    std::int32_t previousRow = -1;
    for (const PixelRun& run : runs) {
        const std::int32_t row = run.start / image.width;
        if (row != previousRow)
            validRuns = 0;
        previousRow = row;
        const float runLength = std::sqrt(image.squaredDistance(run.start, run.end));
        if (!(runLength > kMinValidRunLength && runLength < kMaxValidRunLength))
            continue;
        if (validRuns >= kRunsBeforeGap && std::sqrt(image.squaredDistance(lastValid.end, run.start)) < kMaxGapBridge)
            gaps.push_back(PixelRun{lastValid.end, run.start});
        lastValid = run;
        ++validRuns;
    }
}

namespace {

// The rows that the gap-joining distance of 0.12 m spans around a gap, from the gap's own
// columns per metre across its view ray (the camera sits at the origin of the image's frame), so
// that the plate's tilt does not shrink it, widened by half for the stretch of the pixel pitch
// toward the image's edges and for points nearer the camera. The whole image for a gap that
// gives no scale.
std::int32_t joiningRows(const PointImage& image, const PixelRun& gap)
{
    constexpr float kGapJoiningDistance = 0.12f;
    constexpr float kScaleMargin = 1.5f;
    const Vec4 a = image.at(gap.start);
    const Vec4 b = image.at(gap.end);
    const Vec4 ray = normalize(a + b - Vec4::point(0.0f, 0.0f, 0.0f));
    const float across = length(cross(b - a, ray));
    const float rows = kScaleMargin * kGapJoiningDistance * static_cast<float>(gap.end - gap.start) / across;
    if (!(rows < static_cast<float>(image.height)))
        return image.height;
    return static_cast<std::int32_t>(std::ceil(rows));
}

} // namespace

std::vector<PixelRun> gapsNearGaps(const PointImage& image)
{
    constexpr std::int32_t kSearchedRowStep = 4;
    struct RowWithGaps {
        std::int32_t row;
        std::int32_t reach; // rows around it that can hold gaps joining its own
    };
    std::vector<bool> searched(static_cast<std::size_t>(image.height), false);
    std::vector<RowWithGaps> rowsWithNewGaps;
    std::vector<PixelRun> runs;
    std::vector<PixelRun> gaps;
    const auto search = [&](std::int32_t row) {
        searched[static_cast<std::size_t>(row)] = true;
        runs.clear();
        const std::size_t before = gaps.size();
        splitRuns(image, row, runs);
        findGaps(image, runs, gaps);
        std::int32_t reach = 0;
        for (std::size_t g = before; g < gaps.size(); ++g)
            reach = std::max(reach, joiningRows(image, gaps[g]));
        if (gaps.size() > before)
            rowsWithNewGaps.push_back(RowWithGaps{row, reach});
    };
    for (std::int32_t row = 0; row < image.height; row += kSearchedRowStep)
        search(row);
    while (!rowsWithNewGaps.empty()) {
        const RowWithGaps found = rowsWithNewGaps.back();
        rowsWithNewGaps.pop_back();
        const std::int32_t last = std::min(image.height - 1, found.row + found.reach);
        for (std::int32_t row = std::max(0, found.row - found.reach); row <= last; ++row)
            if (!searched[static_cast<std::size_t>(row)])
                search(row);
    }
    // Rows were searched out of order; within a row the gaps are in order and start at distinct pixels.
    std::sort(gaps.begin(), gaps.end(), [](const PixelRun& a, const PixelRun& b) { return a.start < b.start; });
    return gaps;
}

Vec4 gapMidpoint(const PointImage& image, const Scanline3D& gap)
{
    return (image.at(gap.start) + image.at(gap.end)) / 2.0f;
}

void clusterGaps(const std::vector<std::shared_ptr<Scanline3D>>& gaps, const std::vector<Vec4>& midpoints)
{
    constexpr float kGapClusterSquaredDistance = 0.0144f;
    for (std::size_t i = 0; i < gaps.size(); ++i)
        for (std::size_t k = i + 1; k < gaps.size(); ++k)
            if (lengthSquared(midpoints[i] - midpoints[k]) < kGapClusterSquaredDistance)
                unite(gaps[i], gaps[k]);
}

} // namespace tavorin
