#include "render/Material.h"

#include "render/Shader.h"
#include "render/ShadowMap.h"
#include "render/Texture.h"

namespace tavorin {

namespace {

void applyTexture(QOpenGLFunctions_3_3_Core* gl, const Shader& shader, const std::shared_ptr<Texture>& texture,
                  int unit, const std::string& sampler, const std::string& flag)
{
    if (!texture) {
        shader.setBool(gl, flag, false);
        return;
    }
    gl->glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
    texture->bind(gl);
    shader.setInt(gl, sampler, unit);
    shader.setBool(gl, flag, true);
}

} // namespace

void Material::apply(QOpenGLFunctions_3_3_Core* gl, const Shader& shader,
                     const std::array<const ShadowMap*, 4>& shadowMaps) const
{
    shader.setVec4(gl, "color", color);
    shader.setVec4(gl, "emission", emission);
    shader.setFloat(gl, "texCoordScale", texCoordScale);
    shader.setFloat(gl, "metallic", metallic);
    shader.setFloat(gl, "roughness", roughness);

    applyTexture(gl, shader, albedoTexture, kAlbedoUnit, "albedoTexture", "useAlbedoTexture");
    applyTexture(gl, shader, normalTexture, kNormalUnit, "normalTexture", "useNormalTexture");
    applyTexture(gl, shader, metallicTexture, kMetallicUnit, "metallicTexture", "useMetallicTexture");
    applyTexture(gl, shader, roughnessTexture, kRoughnessUnit, "roughnessTexture", "useRoughnessTexture");

    for (std::size_t i = 0; i < shadowMaps.size(); ++i) {
        const ShadowMap* shadowMap = shadowMaps[i];
        if (!shadowMap)
            continue;
        const int unit = kFirstShadowMapUnit + static_cast<int>(i);
        gl->glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
        shadowMap->bindTexture(gl);
        const std::string index = std::to_string(i);
        shader.setInt(gl, "shadowMapTexture[" + index + "]", unit);
        shader.setMat4(gl, "lightSpaceMatrix[" + index + "]", shadowMap->lightSpaceMatrix());
    }
    gl->glActiveTexture(GL_TEXTURE0);
}

} // namespace tavorin
