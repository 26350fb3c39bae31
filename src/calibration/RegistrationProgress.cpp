#include "calibration/RegistrationProgress.h"

#include <cstdio>

namespace tavorin {

std::string progressLine(std::size_t index, const RegistrationProgress& progress)
{
    constexpr std::size_t kLineBytes = 240;
    char line[kLineBytes];
    if (progress.framesFound == 0) {
        std::snprintf(line, sizeof line, "Camera %zu: plate not seen yet (%zu frames)", index, progress.framesExamined);
        return line;
    }
    int used = std::snprintf(line, sizeof line, "Camera %zu: %zu/%zu frames", index, progress.framesFound,
                             progress.framesExamined);
    const auto append = [&](const char* format, auto... values) {
        if (used >= 0 && static_cast<std::size_t>(used) < sizeof line)
            used += std::snprintf(line + used, sizeof line - static_cast<std::size_t>(used), format, values...);
    };
    if (progress.reference)
        append(" (reference)");
    if (progress.calibrated) {
        if (!progress.reference)
            append(", RMS %.2f mm, 1\u03c3 %.2f mm %.3f\u00b0", progress.rmsMm, progress.sigmaMm, progress.sigmaDeg);
        append(", depth %+.1f mm", progress.depthErrorMm);
        if (progress.narrowDistances)
            append(" (bring the plate nearer and farther)");
    } else if (!progress.reference) {
        append(", not calibrated yet");
        if (!progress.notCalibratedWhy.empty())
            append(": %s", progress.notCalibratedWhy.c_str());
    }
    return line;
}

} // namespace tavorin
