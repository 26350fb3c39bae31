#pragma once

#include <cstdint>
#include <vector>

namespace tavorin {

// One polygon of a mesh: indices into the mesh's positions, normals and texture coordinates,
// one per corner. Normal indices are read only when flat normals are off; texture-coordinate
// indices may be empty. Material -1 (or any index out of range) is the mesh's default material.
struct Face {
    std::vector<std::int32_t> positionIndices;
    std::vector<std::int32_t> normalIndices;
    std::vector<std::int32_t> texCoordIndices;
    std::int32_t material = -1;
};

} // namespace tavorin
