#include "calibration/quality/PlateCoverage.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace tavorin {

namespace {

// A least-squares line value = c + f * ratio; false when the ratios do not spread.
bool fitLine(const std::vector<double>& ratio, const std::vector<double>& value, double& f, double& c)
{
    const double n = static_cast<double>(ratio.size());
    double sr = 0.0, sv = 0.0, srr = 0.0, srv = 0.0;
    for (std::size_t i = 0; i < ratio.size(); ++i) {
        sr += ratio[i];
        sv += value[i];
        srr += ratio[i] * ratio[i];
        srv += ratio[i] * value[i];
    }
    const double denominator = n * srr - sr * sr;
    if (!(std::fabs(denominator) > 1e-12))
        return false;
    f = (n * srv - sr * sv) / denominator;
    c = (sv - f * sr) / n;
    return std::isfinite(f) && std::isfinite(c) && f != 0.0;
}

} // namespace

bool PlateCoverage::fitProjection(const float* points, int width, int height)
{
    constexpr int kStride = 8;        // pixels between the samples, both ways
    constexpr std::size_t kMinSamples = 50;
    if (fitted && width == imageWidth && height == imageHeight)
        return true;
    fitted = false;
    if (!points || width <= 0 || height <= 0)
        return false;
    std::vector<double> xz, yz, us, vs;
    for (int v = 0; v < height; v += kStride)
        for (int u = 0; u < width; u += kStride) {
            const float* p = points + 4 * (static_cast<std::size_t>(v) * static_cast<std::size_t>(width) + static_cast<std::size_t>(u));
            if (!(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2])) || !(p[2] > 0.0f))
                continue;
            xz.push_back(p[0] / p[2]);
            yz.push_back(p[1] / p[2]);
            us.push_back(u);
            vs.push_back(v);
        }
    if (xz.size() < kMinSamples || !fitLine(xz, us, fx, cx) || !fitLine(yz, vs, fy, cy))
        return false;
    imageWidth = width;
    imageHeight = height;
    fitted = true;
    return true;
}

void PlateCoverage::add(const LatticeDetectionResult& detection)
{
    if (!fitted || !detection.found)
        return;
    std::set<std::size_t> seen;
    for (const Vec4& hole : detection.holes) {
        if (!(hole.z > 0.0f))
            continue;
        const double u = cx + fx * hole.x / hole.z;
        const double v = cy + fy * hole.y / hole.z;
        if (!(u >= 0.0 && u < imageWidth && v >= 0.0 && v < imageHeight))
            continue;
        const auto column = static_cast<std::size_t>(u * kColumns / imageWidth);
        const auto row = static_cast<std::size_t>(v * kRows / imageHeight);
        seen.insert(row * kColumns + column);
    }
    for (const std::size_t cell : seen)
        ++counts[cell];
}

double PlateCoverage::coveredShare() const
{
    const auto covered = std::count_if(counts.begin(), counts.end(), [](std::uint32_t c) { return c > 0; });
    return static_cast<double>(covered) / static_cast<double>(counts.size());
}

} // namespace tavorin
