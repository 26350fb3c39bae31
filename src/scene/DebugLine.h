#pragma once

#include "math/Vec4.h"

namespace tavorin {

// One debug line of the scene state, drawn while debug_showRays is set; room coordinates.
struct DebugLine {
    Vec4 color;
    Vec4 end;
    Vec4 start;
};

} // namespace tavorin
