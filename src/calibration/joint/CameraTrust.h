#pragma once

#include "calibration/joint/JointCalibration.h"

#include <cstddef>
#include <string>

namespace tavorin {

// Whether the product stands behind one camera's joint estimate: the one rule that the window's
// calibration, tavorin-calibrate and every store apply, so that no matrix or depth correction that
// may be wrong is shown as a result or stored. A camera is trusted when the estimate converged and
// calibrated it (it fits 80 % of its holes within the robust loss's reach, and its views settle
// which face and quarter turn of the plate it saw), it saw the plate in 10 frame sets, its hole
// residual RMS is within 3 mm and its 1 sigma within 3 mm and 0.2 degrees. Camera 0 is the
// reference and is not placed: its trust is that of its depth correction.
struct TrustRule {
    static constexpr std::size_t kMinFrameSets = 10;
    static constexpr double kMaxRmsMm = 3.0;
    static constexpr double kMaxSigmaMm = 3.0;
    static constexpr double kMaxSigmaDeg = 0.2;
};

struct CameraTrust {
    bool trusted = false;
    std::string why; // empty when trusted, else one phrase, e.g. "plate in 4 frame sets, 10 needed"
};

// The rule applied to camera `camera` of the estimate; not trusted with a reason for a camera the
// estimate does not hold.
CameraTrust trustOf(const JointEstimate& estimate, std::size_t camera);

} // namespace tavorin
