#pragma once

#include "math/Vec4.h"

#include <array>
#include <memory>
#include <string>

class QOpenGLFunctions_3_3_Core;

namespace tavorin {

class Shader;
class ShadowMap;
class Texture;

// Surface parameters a mesh hands to its program. Texture units shared by every mesh program:
// 0 free for the node, 1 to 4 the material textures, 5 to 8 the four shadow maps.
struct Material {
    enum TextureUnit : int { kAlbedoUnit = 1, kNormalUnit, kMetallicUnit, kRoughnessUnit, kFirstShadowMapUnit };

    std::string name = "Nameless Material";
    Vec4 color{1.0f, 1.0f, 1.0f, 1.0f};
    Vec4 emission{0.0f, 0.0f, 0.0f, 1.0f};
    float metallic = 0.0f;
    float roughness = 0.5f;
    float texCoordScale = 1.0f;
    std::shared_ptr<Texture> albedoTexture;
    std::shared_ptr<Texture> normalTexture;
    std::shared_ptr<Texture> metallicTexture;
    std::shared_ptr<Texture> roughnessTexture;

    // Sets the uniforms and binds the textures on the program that is current (shader in use).
    // Null shadow map entries are left unbound. Leaves unit 0 active.
    void apply(QOpenGLFunctions_3_3_Core* gl, const Shader& shader,
               const std::array<const ShadowMap*, 4>& shadowMaps) const;
};

} // namespace tavorin
