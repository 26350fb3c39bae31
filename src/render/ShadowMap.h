#pragma once

#include "render/GLHandle.h"
#include "render/ViewCamera.h"

#include <QOpenGLFunctions_3_3_Core>

#include <cstdint>
#include <functional>

namespace tavorin {

class Shader;

// One shadow-casting light: a 1024 x 1024 depth texture rendered through its own perspective
// camera (near 0.02 m, far 50 m, 80 degrees) placed at a room position and looking at a target.
// GPU objects live in one GL context; release() deletes them so that initialize() makes new ones.
// Render thread only.
class ShadowMap {
public:
    static constexpr std::int32_t kSize = 1024; // texels

    ShadowMap(const Vec4& position, const Vec4& target);

    // Room -> light clip space.
    Mat4 lightSpaceMatrix() const;
    // Leaves the framebuffer that was bound before bound again.
    void initialize(QOpenGLFunctions_3_3_Core* gl);
    void bindTexture(QOpenGLFunctions_3_3_Core* gl) const;
    // Depth of what drawCasters draws with the shadow program (current, its light-space matrix
    // set), seen from this light. Restores the viewport and the framebuffer bound before, and
    // leaves program 0 current. Before initialize() there is no framebuffer to render into and
    // nothing happens.
    void render(QOpenGLFunctions_3_3_Core* gl, const std::function<void(Shader& program)>& drawCasters);
    void release(QOpenGLFunctions_3_3_Core* gl);

    bool isInitialized() const { return static_cast<bool>(framebuffer); }

private:
    std::int32_t width = kSize;
    std::int32_t height = kSize;
    GLTexture depthTexture;
    GLFramebuffer framebuffer;
    ViewCamera camera;
};

} // namespace tavorin
