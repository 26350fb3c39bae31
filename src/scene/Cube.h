#pragma once

#include "scene/Mesh.h"

// Unit cube centred on the node's origin (edges 1 m before scaling), six quads, flat normals.
class Cube : public Mesh {
public:
    Cube();
};
