#include "calibration/LatticeScanlines.h"

std::vector<PixelRun> splitRuns(const PointImage& image)
{
    constexpr float kRunSplitSquaredDistance = 0.0025f;
    std::vector<PixelRun> runs;
    const std::int32_t count = image.pixelCount();
    if (count <= 0)
        return runs;
    PixelRun open{0, 0};
    Vec4 previous = image.at(0);
    for (std::int32_t i = 0; i < count; ++i) {
        const Vec4 current = image.at(i);
        if (i % image.width == 0) {
            if (i > 0)
                runs.push_back(open);
            open = PixelRun{i, i};
        } else if (lengthSquared(previous - current) < kRunSplitSquaredDistance) {
            open.end = i;
        } else {
            runs.push_back(open);
            open = PixelRun{i, i};
        }
        previous = current;
    }
    runs.push_back(open);
    return runs;
}

std::vector<std::shared_ptr<Scanline3D>> findGaps(const PointImage& image, const std::vector<PixelRun>& runs)
{
    constexpr float kMinValidRunLength = 0.035f;
    constexpr float kMaxValidRunLength = 0.35f;
    constexpr float kMaxGapBridge = 0.045f;
    constexpr std::size_t kRunsBeforeGap = 2;
    std::vector<std::shared_ptr<Scanline3D>> gaps;
    std::vector<PixelRun> rowRuns;
    std::int32_t previousRow = -1;
    for (const PixelRun& run : runs) {
        const std::int32_t row = run.start / image.width;
        if (row != previousRow)
            rowRuns.clear();
        previousRow = row;
        const float runLength = distance(image.at(run.start), image.at(run.end));
        if (!(runLength > kMinValidRunLength && runLength < kMaxValidRunLength))
            continue;
        if (rowRuns.size() >= kRunsBeforeGap) {
            const PixelRun& last = rowRuns.back();
            if (distance(image.at(last.end), image.at(run.start)) < kMaxGapBridge)
                gaps.push_back(Scanline3D::create(last.end, run.start));
        }
        rowRuns.push_back(run);
    }
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

