#pragma once

#include "render/ShadowMap.h"

#include <array>
#include <memory>

namespace tavorin {
class Component3D;
struct RenderContext;
} // namespace tavorin

// The scene's four shadow lights for tests of single nodes, whose mesh programs need bound shadow
// maps: at (+-2, 1.8, +-2) looking at the origin, rendered over a tree of the test's choosing.
class TestShadowLights {
public:
    TestShadowLights();
    // Renders every map over root and makes the context bind them.
    void render(QOpenGLFunctions_3_3_Core* gl, tavorin::Component3D& root, tavorin::RenderContext& context);
    void release(QOpenGLFunctions_3_3_Core* gl);

private:
    std::array<std::unique_ptr<tavorin::ShadowMap>, 4> maps;
};
