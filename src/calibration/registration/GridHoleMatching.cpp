#include "calibration/registration/GridHoleMatching.h"

#include "base/Console.h"

#include <limits>

namespace tavorin {

namespace {

constexpr int kGridSize = 5;
constexpr int kGridCentre = 2;
constexpr float kGridPitch = 0.08f;

// The hole of `result` nearest the grid position (a, b) in plate coordinates, or a missing point.
Vec4 holeAtGridPosition(const LatticeDetectionResult& result, float a, float b)
{
    constexpr float kNoMatchYet = 999999.0f;
    constexpr float kMatchSquaredRadius = 0.0009f;
    float bestError = kNoMatchYet;
    const Vec4* best = nullptr;
    for (const Vec4& hole : result.holes) {
        const Vec4 d = hole - result.origin;
        const float alongPrimary = a - dot(result.primaryAxis, d);
        const float alongSecondary = b - dot(result.secondaryAxis, d);
        const float error = alongPrimary * alongPrimary + alongSecondary * alongSecondary;
        if (error < bestError) {
            bestError = error;
            best = &hole;
        }
    }
    if (best && bestError < kMatchSquaredRadius)
        return Vec4::point(best->x, best->y, best->z);
    return missingPoint();
}

std::vector<Vec4> gridHoles(const LatticeDetectionResult& result, bool seenFromBack)
{
    std::vector<Vec4> holes;
    holes.reserve(kGridSize * kGridSize);
    for (int row = 0; row < kGridSize; ++row) {
        for (int step = 0; step < kGridSize; ++step) {
            const float a = static_cast<float>(row - kGridCentre) * kGridPitch;
            const float b = static_cast<float>(seenFromBack ? kGridCentre - step : step - kGridCentre) * kGridPitch;
            holes.push_back(holeAtGridPosition(result, a, b));
        }
    }
    return holes;
}

} // namespace

Vec4 missingPoint()
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    return Vec4::point(nan, nan, nan);
}

std::vector<std::vector<Vec4>> latticeAxisPoints(const std::vector<LatticeDetectionResult>& results)
{
    constexpr float kAxisPointDistance = 0.2f;
    std::vector<std::vector<Vec4>> points;
    points.reserve(results.size());
    for (const LatticeDetectionResult& result : results) {
        if (result.found)
            points.push_back({result.origin, result.origin + result.primaryAxis * kAxisPointDistance});
        else
            points.push_back({missingPoint(), missingPoint()});
    }
    return points;
}

std::vector<std::vector<Vec4>> matchAllGridHoles_ByRoughRegistration(std::vector<Mat4> roughTransforms,
                                                                     std::vector<LatticeDetectionResult> results,
                                                                     int referenceIndex)
{
    if (roughTransforms.size() != results.size()) {
        console::errRepeating("matchAllGridHoles_ByRoughRegistration: Both input arrays must have the same size!");
        return {};
    }
    if (roughTransforms.size() < 2) {
        console::errRepeating(
            "matchAllGridHoles_ByRoughRegistration: There must be at least 2 array elements for registration!");
        return {};
    }
    if (referenceIndex < 0 || static_cast<std::size_t>(referenceIndex) >= results.size()) {
        console::errRepeating("matchAllGridHoles_ByRoughRegistration: The reference index ", referenceIndex,
                     " names no camera!");
        return {};
    }
    const Vec4 referenceNormal = results[static_cast<std::size_t>(referenceIndex)].normal;
    std::vector<std::vector<Vec4>> grid;
    grid.reserve(results.size());
    for (std::size_t c = 0; c < results.size(); ++c) {
        const Vec4 normal = results[c].normal;
        const Vec4 roughNormal = roughTransforms[c] * Vec4::direction(normal.x, normal.y, normal.z);
        const bool seenFromBack = dot(referenceNormal, roughNormal) < 0.0f;
        grid.push_back(gridHoles(results[c], seenFromBack));
    }
    return grid;
}

} // namespace tavorin
