#pragma once

#include "scene/Composite3D.h"

namespace tavorin {

// The 3D cursor: three thin cubes along X (red), Y (green) and Z (blue), crossing at the node's
// origin or, with offset axes, starting there. Length and thickness in metres.
class Cursor : public Composite3D {
public:
    Cursor(bool offsetAxes, float length, float thickness);
};

} // namespace tavorin
