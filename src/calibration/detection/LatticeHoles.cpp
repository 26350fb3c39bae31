#include "calibration/detection/LatticeHoles.h"

#include <algorithm>

namespace tavorin {

std::vector<PixelRun> rowSpans(const std::vector<std::int32_t>& platePixels, std::int32_t width)
{
    std::vector<PixelRun> spans;
    for (std::int32_t pixel : platePixels) {
        if (!spans.empty() && spans.back().start / width == pixel / width)
            spans.back().end = pixel;
        else
            spans.push_back(PixelRun{pixel, pixel});
    }
    return spans;
}

std::vector<std::shared_ptr<Scanline3D>> holeRuns(const std::vector<PixelRun>& spans,
                                                  const std::vector<std::int32_t>& platePixels, std::int32_t width)
{
    std::vector<std::shared_ptr<Scanline3D>> runs;
    std::shared_ptr<Scanline3D> open;
    auto nextPlate = platePixels.begin(); // the first plate pixel not behind the walk
    for (const PixelRun& span : spans) {
        for (std::int32_t pixel = span.start; pixel <= span.end; ++pixel) {
            while (nextPlate != platePixels.end() && *nextPlate < pixel)
                ++nextPlate;
            if (nextPlate != platePixels.end() && *nextPlate == pixel)
                continue;
            if (open && pixel == open->end + 1 && pixel / width == open->end / width) {
                open->end = pixel;
            } else {
                if (open)
                    runs.push_back(open);
                open = Scanline3D::create(pixel, pixel);
            }
        }
    }
    if (open)
        runs.push_back(open);
    return runs;
}

void clusterHoleRuns(const std::vector<std::shared_ptr<Scanline3D>>& runs, std::int32_t width)
{
    const auto row = [width](std::int32_t pixel) { return pixel / width; };
    const auto column = [width](std::int32_t pixel) { return pixel % width; };
    std::size_t i = 0;
    std::size_t b = 1;
    while (b < runs.size()) {
        const Scanline3D& upper = *runs[i];
        const Scanline3D& lower = *runs[b];
        if (row(upper.start) == row(lower.start)) {
            ++b;
        } else if (row(lower.start) > row(upper.start) + 1) {
            ++i;
        } else {
            if (column(lower.end) >= column(upper.start) && column(upper.end) >= column(lower.start))
                unite(runs[i], runs[b]);
            if (column(upper.end) >= column(lower.end))
                ++b;
            else
                ++i;
        }
    }
}

Vec4 projectOntoPlane(const Vec4& p, const Plane& plane)
{
    return p - plane.normal * dot(p - plane.point, plane.normal);
}

std::vector<Vec4> holeCentres(const PointImage& image, const std::vector<std::shared_ptr<Scanline3D>>& runs,
                              const Plane& plane)
{
    constexpr int kMaxHoleRows = 20;
    constexpr int kMaxHoleRunPixels = 20;
    constexpr int kMinHoleSamples = 20;
    struct HoleSums {
        Vec4 sum = Vec4::point(0.0f, 0.0f, 0.0f);
        int count = 0;
        int longestRun = 0;
        int rows = 0;
        std::int32_t lastRow = -1;
    };
    std::vector<HoleSums> holes;
    for (const std::shared_ptr<Scanline3D>& run : runs) {
        if (run->isRoot()) {
            run->clusterId = static_cast<std::int32_t>(holes.size());
            holes.emplace_back();
        }
    }
    for (const std::shared_ptr<Scanline3D>& run : runs) {
        HoleSums& hole = holes[static_cast<std::size_t>(findRoot(run)->clusterId)];
        const Vec4 e = projectOntoPlane(image.at(run->start - 1), plane);
        const Vec4 f = projectOntoPlane(image.at(run->end + 1), plane);
        const int steps = run->end - run->start + 2;
        for (int k = 0; k <= steps; ++k)
            hole.sum = hole.sum + (e + (f - e) * (static_cast<float>(k) / static_cast<float>(steps)));
        hole.count += steps + 1;
        hole.longestRun = std::max(hole.longestRun, run->end - run->start + 1);
        const std::int32_t row = run->start / image.width;
        if (row != hole.lastRow) {
            ++hole.rows;
            hole.lastRow = row;
        }
    }
    std::vector<Vec4> centres;
    for (const HoleSums& hole : holes) {
        if (hole.rows < kMaxHoleRows && hole.longestRun < kMaxHoleRunPixels && hole.count > kMinHoleSamples) {
            const Vec4 centre = hole.sum / static_cast<float>(hole.count);
            centres.push_back(Vec4::point(centre.x, centre.y, centre.z));
        }
    }
    return centres;
}

} // namespace tavorin
