#pragma once

#include "math/Mat4.h"

#include <cstddef>
#include <vector>

namespace tavorin {

// The library's sample-consensus rejection over paired points: source[m] corresponds to
// target[m], every point observed (metres).
struct CorrespondenceConsensus {
    std::vector<std::size_t> inliers; // pair indices in the rejector's order; every pair when it gave up
    Mat4 T_target_source;             // the best sampled model; the identity when it gave up
    bool gaveUp = false;              // no model: the rejector keeps every pair

    // PCL's CorrespondenceRejectorSampleConsensus, at most 1000 iterations, with the library's
    // fixed seeds: the same pairs give the same answer. Uses no shared state.
    static CorrespondenceConsensus of(const std::vector<Vec4>& source, const std::vector<Vec4>& target,
                                      float inlierThreshold);
};

// T_target_source by the library's SVD estimate (Umeyama, in float) over paired points.
Mat4 svdRigidTransform(const std::vector<Vec4>& source, const std::vector<Vec4>& target);

} // namespace tavorin
