#include "calibration/RegistrationProgress.h"

#include <cstdio>

namespace tavorin {

std::string progressLine(std::size_t index, const RegistrationProgress& progress)
{
    constexpr std::size_t kLineBytes = 160;
    char line[kLineBytes];
    if (progress.framesFound == 0)
        std::snprintf(line, sizeof line, "Camera %zu: plate not seen yet (%zu frames)", index, progress.framesExamined);
    else if (progress.reference)
        std::snprintf(line, sizeof line, "Camera %zu: found %zu of %zu frames (reference)", index,
                      progress.framesFound, progress.framesExamined);
    else
        std::snprintf(line, sizeof line, "Camera %zu: found %zu of %zu frames, RMS %.2f mm, %zu correspondences",
                      index, progress.framesFound, progress.framesExamined, progress.rmsMm, progress.correspondences);
    return line;
}

} // namespace tavorin
