#include "calibration/joint/CameraTrust.h"

#include <cstdio>

namespace tavorin {

CameraTrust trustOf(const JointEstimate& estimate, std::size_t camera)
{
    constexpr std::size_t kReasonBytes = 200;
    if (camera >= estimate.cameras.size())
        return {false, "not part of the estimate"};
    const JointCameraEstimate& c = estimate.cameras[camera];
    char why[kReasonBytes] = "";
    if (!c.calibrated)
        std::snprintf(why, sizeof why, "%s", c.reason.empty() ? "not calibrated" : c.reason.c_str());
    else if (!estimate.converged)
        std::snprintf(why, sizeof why, "the estimate did not converge");
    else if (c.frameSets < TrustRule::kMinFrameSets)
        std::snprintf(why, sizeof why, "plate in %zu frame sets, %zu needed", c.frameSets, TrustRule::kMinFrameSets);
    else if (c.holeRmsMm > TrustRule::kMaxRmsMm)
        std::snprintf(why, sizeof why, "hole residual RMS %.1f mm, above %.0f mm", c.holeRmsMm, TrustRule::kMaxRmsMm);
    else if (c.sigmaTranslationMm > TrustRule::kMaxSigmaMm || c.sigmaRotationDeg > TrustRule::kMaxSigmaDeg)
        std::snprintf(why, sizeof why, "1\u03c3 %.1f mm %.2f\u00b0, above %.0f mm or %.1f\u00b0: carry the plate on",
                      c.sigmaTranslationMm, c.sigmaRotationDeg, TrustRule::kMaxSigmaMm, TrustRule::kMaxSigmaDeg);
    return {why[0] == '\0', why};
}

} // namespace tavorin
