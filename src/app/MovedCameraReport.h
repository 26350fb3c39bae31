#pragma once

#include "app/StillViewCheck.h"

#include <cstddef>
#include <map>
#include <string>

namespace tavorin {

// One camera's latest check in the window.
struct MovedCameraCheck {
    std::string configPath; // its matrix file: who the camera is across source changes
    std::string name;       // its serial
    std::size_t index = 0;  // its place in the scene's camera list when its frames were taken
    StillViewCheck check;
    // Moved alike in its last two checks, and its matrix still the one its reference was stored with.
    bool fixable = false;
};

// What the console says of the window's checks: a camera's verdict once, when it changes, not
// after every check (the figures of a moved camera wander with the noise of its view). A camera
// without a reference says nothing. One thread.
class MovedCameraReport {
public:
    // The line to write for this check ("Camera 1 (000123): moved 0.512 deg, 8.03 mm since
    // 2026-12-10", as tavorin-check says it), or empty when its verdict is the one said last.
    std::string lineFor(const MovedCameraCheck& camera);

private:
    std::map<std::string, DriftVerdict> said; // by matrix file
};

} // namespace tavorin
