#pragma once

#include "math/Mat4.h"
#include "math/Vec4.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace tavorin {

// Whether a reference point was observed: a NaN x, y or z marks one its camera did not see.
inline bool isObserved(const Vec4& p)
{
    return !std::isnan(p.x) && !std::isnan(p.y) && !std::isnan(p.z);
}

// The rigid transform of one source cloud onto the target cloud over all their correspondences so
// far, kept up to date as correspondences arrive, at a cost per update that does not grow with
// their number:
// - the sample consensus (the library's rejector, as over all pairs) runs on a reservoir: a
//   uniform random sample of at most 512 of the observed pairs, kept by reservoir sampling with a
//   fixed seed;
// - its model classifies every new pair and 1024 of the older ones per update, round robin, so
//   that each pair's class follows the model within a few updates, as the full computation would
//   classify it;
// - the fit is Umeyama's (rotation and translation, no scale) in double precision from running
//   sums over the inliers: their count, their centroids and the 3 x 3 cross-covariance, taken
//   relative to the first pair so that the sums keep their precision; a pair that changes class
//   moves in or out of the sums.
// Consensus every few updates with an incremental fit in between would bound only the average
// cost, not each frame's, and would fit over pairs classified by a model that many frames made.
// Usable from one thread at a time; holds no shared state.
class IncrementalRegistration {
public:
    // T_target_source over source[k] <-> target[k] (a NaN coordinate marks a point not observed).
    // Between calls both lists only grow, by the same number of points. The identity while fewer
    // than four pairs are observed or fewer than four are inliers.
    Mat4 update(const std::vector<Vec4>& source, const std::vector<Vec4>& target, float inlierThreshold);

    std::size_t inlierCount() const { return sums.count; }
    // The observed pairs taken so far.
    std::size_t correspondenceCount() const { return pairs.size(); }
    // Root mean square of the inliers' residuals under the last fit, in metres, from the running
    // sums; 0 before the first fit.
    double inlierRms() const { return fitRms; }

private:
    // Sums over the inlier pairs, relative to the anchors (metres).
    struct InlierSums {
        std::size_t count = 0;
        std::array<double, 3> sourceAnchor{};
        std::array<double, 3> targetAnchor{};
        std::array<double, 3> source{};
        std::array<double, 3> target{};
        std::array<double, 9> cross{}; // sum of (t - targetAnchor)(s - sourceAnchor)^T, row-major
        double sourceSquares = 0.0;    // sum of |s - sourceAnchor|^2
        double targetSquares = 0.0;    // sum of |t - targetAnchor|^2
    };

    void takeNewPairs(const std::vector<Vec4>& source, const std::vector<Vec4>& target);
    void classify(std::size_t pair, bool inlier, const std::vector<Vec4>& source, const std::vector<Vec4>& target);
    Mat4 fit();

    std::size_t taken = 0;                  // correspondences looked at so far
    std::vector<std::uint32_t> pairs;       // the observed ones among them, as correspondence indices
    std::vector<std::uint8_t> isInlier;     // per pair, its class at its last classification
    std::vector<Vec4> reservoirSource;      // the reservoir's points, stored contiguously
    std::vector<Vec4> reservoirTarget;
    std::size_t cursor = 0;                 // the next older pair to re-classify
    std::mt19937 random{1u};
    InlierSums sums;
    double fitRms = 0.0; // metres
};

} // namespace tavorin
