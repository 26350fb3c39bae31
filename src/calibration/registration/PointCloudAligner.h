#pragma once

#include "calibration/registration/IncrementalRegistration.h"
#include "math/Mat4.h"

#include <cstddef>
#include <vector>

namespace tavorin {

// How well one cloud's transform carries its reference points onto the target's: the
// correspondences (both points observed) whose residual is below the inlier threshold, and the
// root mean square of those residuals, in metres; and all the correspondences.
struct RegistrationResidual {
    std::size_t inlierCount = 0;
    double inlierRms = 0.0;
    std::size_t correspondenceCount = 0;
};

// Accumulates corresponding reference points of several point clouds (point k of every cloud is
// one physical point; a NaN coordinate marks a point the cloud's camera did not observe) and
// computes per cloud the rigid transform into a target cloud's coordinates. Reports misuse on
// standard error and never throws. Holds no shared state: usable from any one thread at a time.
class PointCloudAligner {
public:
    explicit PointCloudAligner(unsigned cloudCount = 0);

    // Appends points[j] to cloud j's reference points, or reports and changes nothing.
    void addCorrespondencePoints(std::vector<std::vector<Vec4>> points);

    // One transform per cloud (cloud coordinates -> target coordinates), the target's the
    // identity; an empty list after a report. Over every point gathered so far, at a cost per
    // call that does not grow with their number (IncrementalRegistration): the state it keeps
    // belongs to one target and threshold, and starts afresh over all points when they change.
    std::vector<Mat4> registrate(int targetCloudId, float inlierThreshold);

    // The same transforms computed from scratch: sample consensus and SVD fit over every gathered
    // correspondence, at a cost that grows with them. The reference the bounded registrate() is
    // measured against.
    std::vector<Mat4> registrateOverAll(int targetCloudId, float inlierThreshold) const;

    // The residuals of `transforms` (one per cloud, as registrate returns them) over all gathered
    // correspondences with the target; empty when the sizes or the target do not fit.
    std::vector<RegistrationResidual> residuals(const std::vector<Mat4>& transforms, int targetCloudId,
                                                float inlierThreshold) const;

    // The same figures of the bounded registration as it stands after the last registrate(), from
    // its running sums (inliers as its consensus classified them) at a cost that does not grow
    // with the points; zeros for the target and before the first registrate().
    std::vector<RegistrationResidual> currentResiduals() const;

    unsigned cloudCount() const { return clouds; }
    std::size_t referencePointCount() const { return referencePoints.empty() ? 0 : referencePoints.front().size(); }

private:
    // Reports why registration cannot run with this target, if it cannot.
    bool canRegistrate(int targetCloudId) const;
    // One transform per cloud onto the target cloud: the identity for the target itself, align(j,
    // target points) for every other cloud j.
    template <typename Align>
    std::vector<Mat4> transformsOnto(int targetCloudId, Align align) const;

    unsigned clouds;
    std::vector<std::vector<Vec4>> referencePoints;
    // The bounded registration of every cloud onto registrationTarget at registrationThreshold.
    std::vector<IncrementalRegistration> registrations;
    int registrationTarget = -1;
    float registrationThreshold = 0.0f;
};

} // namespace tavorin
