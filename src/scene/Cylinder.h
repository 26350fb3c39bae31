#pragma once

#include "scene/Mesh.h"

namespace tavorin {

// Cylinder of radius 0.5 spanning y = -1 .. 0, so that its top lies at the node's origin. An
// inverted cylinder mirrors x, which reverses the winding: its surface faces inward.
class Cylinder : public Mesh {
public:
    static constexpr int kDefaultSegments = 128;

    Cylinder() : Cylinder(kDefaultSegments, true, true, false) {}
    Cylinder(int segments, bool topCap, bool bottomCap, bool inverted);
};

} // namespace tavorin
