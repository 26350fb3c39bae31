#pragma once

#include <cstddef>
#include <string>

namespace tavorin {

// How far registration has come for one camera since it started: in how many of the frames it
// examined the lattice was found, and what the newest joint estimate says of it.
struct RegistrationProgress {
    std::size_t framesFound = 0;
    std::size_t framesExamined = 0;
    bool reference = false;
    // The joint estimate's figures, once it trusts this camera (its matrix is then applied).
    bool calibrated = false;
    std::string notCalibratedWhy; // why not, when an estimate says so; empty while none came yet
    double rmsMm = 0.0;           // hole residual
    double sigmaMm = 0.0;         // 1 sigma of the translation
    double sigmaDeg = 0.0;        // 1 sigma of the rotation
    double depthErrorMm = 0.0;    // what the sensor adds to the range at the plate's mean distance
    double plateDistanceM = 0.0;
    bool narrowDistances = false; // the plate was seen at too few distances to tell offset from scale
    // How far its stamps are ahead of camera 0's clock, once the plate's motion told it.
    bool clockOffsetObservable = false;
    double clockOffsetMs = 0.0;
};

// The settings bar's line for camera `index`: the frames in which it found the plate, and once
// calibrated its hole residual, 1 sigma, depth error at the plate's mean distance and clock
// offset, for example "Camera 1 (000218790512): 87/120 frames, RMS 0.45 mm, 1σ 0.12 mm 0.004°,
// depth +5.6 mm, clock +23.1 ms" (", clock not observable" where the plate's motion did not tell
// it); or
// "Camera 2: 12/120 frames, not calibrated yet", or "Camera 3: plate not seen yet (12 frames)".
// The camera's short name (scene/CameraIdentity) follows the index when its record's source name
// gives one.
std::string progressLine(std::size_t index, const RegistrationProgress& progress,
                         const std::string& sourceName = std::string());

} // namespace tavorin
