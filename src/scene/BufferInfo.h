#pragma once

#include <QOpenGLFunctions_3_3_Core>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

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
    std::array<GLuint, 4> vertexBuffers{};
    GLuint vertexArray = 0;
    std::int32_t vertexCount = 0;
    bool uploaded = false;
};
