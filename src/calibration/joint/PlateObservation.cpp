#include "calibration/joint/PlateObservation.h"

#include <cmath>

namespace tavorin {

namespace {

Vec4 measured(const Vec4& p, const DepthCorrection& removed)
{
    Vec4 q = p;
    removed.addTo(q.x, q.y, q.z);
    return q;
}

} // namespace

std::optional<PlateObservation> observePlate(const LatticeDetectionResult& detection, const DepthCorrection& removed)
{
    constexpr float kMaxPlaceDistanceM = 0.02f;
    constexpr std::size_t kMinHoles = 8;
    constexpr int kSide = 2 * kLatticeHalfSpan + 1;
    if (!detection.found)
        return std::nullopt;
    // Per lattice place, the hole that claims it (-1: none, -2: more than one).
    int claimedBy[kSide][kSide];
    for (auto& row : claimedBy)
        for (int& hole : row)
            hole = -1;
    for (std::size_t k = 0; k < detection.holes.size(); ++k) {
        const Vec4 d = detection.holes[k] - detection.origin;
        const float a = dot(d, detection.primaryAxis) / kLatticePitchM;
        const float b = dot(d, detection.secondaryAxis) / kLatticePitchM;
        const int row = static_cast<int>(std::lround(a));
        const int column = static_cast<int>(std::lround(b));
        const float off = std::hypot(a - static_cast<float>(row), b - static_cast<float>(column)) * kLatticePitchM;
        if (std::abs(row) > kLatticeHalfSpan || std::abs(column) > kLatticeHalfSpan || !(off <= kMaxPlaceDistanceM))
            continue;
        int& claim = claimedBy[row + kLatticeHalfSpan][column + kLatticeHalfSpan];
        claim = claim == -1 ? static_cast<int>(k) : -2;
    }
    PlateObservation observation;
    observation.origin = measured(detection.origin, removed);
    observation.primaryAxis = detection.primaryAxis;
    observation.secondaryAxis = detection.secondaryAxis;
    for (int r = 0; r < kSide; ++r)
        for (int c = 0; c < kSide; ++c)
            if (claimedBy[r][c] >= 0)
                observation.holes.push_back(
                    {r - kLatticeHalfSpan, c - kLatticeHalfSpan,
                     measured(detection.holes[static_cast<std::size_t>(claimedBy[r][c])], removed)});
    if (observation.holes.size() < kMinHoles)
        return std::nullopt;
    return observation;
}

} // namespace tavorin
