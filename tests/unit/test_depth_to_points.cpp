// The depth-to-points kernel against a plain per-pixel loop of each source's formula, bit for bit.
#include "acquisition/model/DepthToPoints.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using tavorin::depthToPoints, tavorin::kLiveCameraPoints, tavorin::kRecordingPoints, tavorin::PointConvention;

namespace {

constexpr float kUntouched = 7.0f;

using Point = std::array<float, 4>;
using Reference = Point (*)(float depthMm, float tx, float ty, float oldW);

// A measurement is finite and at least 1 mm.
bool hasPoint(float depthMm, float tx, float ty)
{
    return depthMm >= 1.0f && std::isfinite(depthMm) && !std::isnan(tx) && !std::isnan(ty);
}

// Live capture: the SDK's rays (y down), divided by -1000, w = 0.
Point livePoint(float d, float tx, float ty, float)
{
    if (!hasPoint(d, tx, ty))
        return {0.0f, 0.0f, 0.0f, 0.0f};
    return {d * tx / -1000.0f, d * ty / -1000.0f, d / 1000.0f, 0.0f};
}

// Recordings: a table of (x, -y), scaled by the depth in metres, w = 1; no point keeps w.
Point recordedPoint(float d, float tx, float ty, float oldW)
{
    if (!hasPoint(d, tx, ty))
        return {0.0f, 0.0f, 0.0f, oldW};
    const float metres = d * 0.001f;
    return {-tx * metres, ty * metres, metres, 1.0f};
}

struct DepthRun {
    std::vector<std::uint16_t> depthMm;
    std::vector<float> rays;
};

// Depths with holes up to the 16-bit maximum; rays with NaN, infinities, signed zeros and tiny values.
DepthRun randomRun(std::size_t pixels, unsigned seed)
{
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              -0.0f, 1e-30f, -1.0f};
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> ray(-1.5f, 1.5f);
    DepthRun run{std::vector<std::uint16_t>(pixels), std::vector<float>(2 * pixels)};
    for (std::size_t k = 0; k < pixels; ++k)
        run.depthMm[k] = rng() % 6 == 0 ? 0 : static_cast<std::uint16_t>(rng());
    for (float& value : run.rays)
        value = rng() % 8 == 0 ? specials[rng() % std::size(specials)] : ray(rng);
    return run;
}

template <typename Depth>
void expectReference(const std::vector<Depth>& depthMm, const DepthRun& run, PointConvention convention,
                     Reference reference, const char* what)
{
    const std::size_t pixels = run.depthMm.size();
    std::vector<float> points(4 * pixels, kUntouched);
    depthToPoints(depthMm.data(), run.rays.data(), pixels, points.data(), convention);
    for (std::size_t k = 0; k < pixels; ++k) {
        const Point expected =
            reference(static_cast<float>(depthMm[k]), run.rays[2 * k], run.rays[2 * k + 1], kUntouched);
        EXPECT_EQ(0, std::memcmp(expected.data(), &points[4 * k], sizeof(expected)))
            << what << ", " << pixels << " pixels, pixel " << k;
    }
}

} // namespace

// Float depths that are no measurement, as a recording of floats or signed integers may hold them.
std::vector<float> withoutMeasurements(const std::vector<std::uint16_t>& depthMm, unsigned seed)
{
    const float none[] = {-1500.0f, -0.0f, 0.5f, 0.999f, std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
    std::mt19937 rng(seed);
    std::vector<float> depth(depthMm.begin(), depthMm.end());
    for (float& d : depth)
        if (rng() % 4 == 0)
            d = none[rng() % std::size(none)];
    return depth;
}

// DepthRun lengths around the four-pixel steps, so that both the vector steps and the remainder are
// checked, for both sources and both depth types; float depths also with values that are no
// measurement.
TEST(DepthToPoints, EveryPixelMatchesThePlainLoopOfItsSource)
{
    struct Source {
        const char* name;
        PointConvention convention;
        Reference reference;
    };
    const Source sources[] = {{"live", kLiveCameraPoints, livePoint}, {"recorded", kRecordingPoints, recordedPoint}};
    const std::size_t lengths[] = {0, 1, 3, 4, 5, 8, 11, 1027};
    for (const Source& source : sources)
        for (std::size_t pixels : lengths) {
            const DepthRun run = randomRun(pixels, static_cast<unsigned>(pixels) + 1);
            const std::vector<float> floatDepthMm(run.depthMm.begin(), run.depthMm.end());
            expectReference(run.depthMm, run, source.convention, source.reference, source.name);
            expectReference(floatDepthMm, run, source.convention, source.reference, source.name);
            expectReference(withoutMeasurements(run.depthMm, static_cast<unsigned>(pixels)), run, source.convention,
                            source.reference, source.name);
        }
}
