#pragma once

#include "scene/Traverser.h"

class QOpenGLFunctions_3_3_Core;

namespace tavorin {

class Shader;
class ShadowMap;

// Draws every mesh of a tree, visible or not, into the bound shadow framebuffer with the shadow
// program current. Render thread only.
class ShadowRenderTraverser : public Traverser {
public:
    ShadowRenderTraverser(ShadowMap& shadowMap, QOpenGLFunctions_3_3_Core* gl, Shader& program);

    void visit(Component3D& node) override;

private:
    ShadowMap* shadowMap; // non-owning
    QOpenGLFunctions_3_3_Core* gl;
    Shader* program; // non-owning; the process-wide shadow program
};

} // namespace tavorin
