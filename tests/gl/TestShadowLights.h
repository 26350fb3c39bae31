#pragma once

#include "render/ShadowMap.h"

#include <array>
#include <memory>

class Component3D;
struct RenderContext;

// The scene's four shadow lights for tests of single nodes, whose mesh programs need bound shadow
// maps: at (+-2, 1.8, +-2) looking at the origin, rendered over a tree of the test's choosing.
class TestShadowLights {
public:
    TestShadowLights();
    // Renders every map over root and makes the context bind them.
    void render(QOpenGLFunctions_3_3_Core* gl, Component3D& root, RenderContext& context);
    void release(QOpenGLFunctions_3_3_Core* gl);

private:
    std::array<std::unique_ptr<ShadowMap>, 4> maps;
};
