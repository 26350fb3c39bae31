#include "render/ShadowRenderTraverser.h"

#include "render/Shader.h"
#include "scene/Mesh.h"

namespace tavorin {

ShadowRenderTraverser::ShadowRenderTraverser(ShadowMap& shadowMap_, QOpenGLFunctions_3_3_Core* gl_, Shader& program_)
    : shadowMap(&shadowMap_), gl(gl_), program(&program_)
{
}

void ShadowRenderTraverser::visit(Component3D& node)
{
    auto* mesh = dynamic_cast<Mesh*>(&node);
    if (!mesh)
        return;
    program->setMat4(gl, "model", mesh->worldMatrix());
    mesh->drawArrays(gl);
}

} // namespace tavorin
