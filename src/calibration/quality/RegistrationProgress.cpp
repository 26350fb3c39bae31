#include "calibration/quality/RegistrationProgress.h"

#include "scene/CameraIdentity.h"

#include <cmath>
#include <cstdio>

namespace tavorin {

namespace {

// "Camera 1 (000218790512)", or "Camera 1" without a name.
std::string cameraTitle(std::size_t index, const std::string& sourceName)
{
    const std::string name = cameraShortName(sourceName);
    const std::string title = "Camera " + std::to_string(index);
    return name.empty() ? title : title + " (" + name + ")";
}

} // namespace

std::string progressLine(std::size_t index, const RegistrationProgress& progress, const std::string& sourceName)
{
    constexpr std::size_t kLineBytes = 240;
    char line[kLineBytes];
    const std::string title = cameraTitle(index, sourceName);
    if (progress.framesFound == 0) {
        std::snprintf(line, sizeof line, "%s: plate not seen yet (%zu frames)", title.c_str(), progress.framesExamined);
        return line;
    }
    int used = std::snprintf(line, sizeof line, "%s: %zu/%zu frames", title.c_str(), progress.framesFound,
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
            append(" (vary the distance)");
        constexpr double kHalfTenthMs = 0.05; // shown as +0.0, not -0.0
        if (!progress.reference && progress.clockOffsetObservable)
            append(", clock %+.1f ms", std::fabs(progress.clockOffsetMs) < kHalfTenthMs ? 0.0 : progress.clockOffsetMs);
        else if (!progress.reference)
            append(", clock not observable");
    } else if (!progress.reference) {
        append(", not calibrated yet");
        if (!progress.notCalibratedWhy.empty())
            append(": %s", progress.notCalibratedWhy.c_str());
    }
    return line;
}

} // namespace tavorin
