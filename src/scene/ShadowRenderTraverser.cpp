#include "scene/ShadowRenderTraverser.h"

#include "render/Shader.h"
#include "render/ShadowMap.h"
#include "scene/Component3D.h"
#include "scene/Mesh.h"

namespace tavorin {

ShadowRenderTraverser::ShadowRenderTraverser(QOpenGLFunctions_3_3_Core* gl_, Shader& program_)
    : gl(gl_), program(&program_)
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

void renderShadows(QOpenGLFunctions_3_3_Core* gl, ShadowMap& shadowMap, Component3D& root)
{
    shadowMap.render(gl, [&](Shader& program) {
        ShadowRenderTraverser traverser(gl, program);
        root.accept(traverser);
    });
}

} // namespace tavorin
