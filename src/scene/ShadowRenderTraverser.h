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
    ShadowRenderTraverser(QOpenGLFunctions_3_3_Core* gl, Shader& program);

    void visit(Component3D& node) override;

private:
    QOpenGLFunctions_3_3_Core* gl;
    Shader* program; // non-owning; the process-wide shadow program
};

// The depth of every mesh of the tree under root, seen from the shadow map's light (ShadowMap::render
// says what it restores). Render thread only.
void renderShadows(QOpenGLFunctions_3_3_Core* gl, ShadowMap& shadowMap, Component3D& root);

} // namespace tavorin
