#pragma once

#include "render/GLHandle.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace tavorin {

struct Material;

// The triangle vertices of one material of a mesh and their GL arrays (one buffer per attribute:
// location 0 position vec3, 1 normal vec3, 2 texture coordinate vec2, 3 tangent vec3; 2 and 3
// only for meshes with texture coordinates).
struct BufferInfo {
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<float> texCoords;
    std::vector<float> tangents;
    std::shared_ptr<Material> material;
    std::array<GLBuffer, 4> vertexBuffers; // the unused ones stay empty
    GLVertexArray vertexArray;
    std::int32_t vertexCount = 0;

    bool isUploaded() const { return static_cast<bool>(vertexArray); }
    void release(QOpenGLFunctions_3_3_Core* gl)
    {
        vertexArray.release(gl);
        for (GLBuffer& buffer : vertexBuffers)
            buffer.release(gl);
    }
};

} // namespace tavorin
