#pragma once

#include "scene/Mesh.h"

namespace tavorin {

// Unit cube centred on the node's origin (edges 1 m before scaling), six quads, flat normals.
class Cube : public Mesh {
public:
    Cube();
};

} // namespace tavorin
