#pragma once

#include "render/GLHandle.h"

namespace tavorin {

// A 2D texture that creates its GL object at first bind. release() deletes it and lets the next
// bind upload again, in whatever context is then current. Render thread only.
class Texture {
public:
    virtual ~Texture() = default;
    // Makes the GL texture (into `texture`) and transfers the pixels.
    virtual void upload(QOpenGLFunctions_3_3_Core* gl) = 0;
    // Uploads first if needed, then binds to GL_TEXTURE_2D of the active unit.
    virtual void bind(QOpenGLFunctions_3_3_Core* gl);
    // Binds texture 0 to GL_TEXTURE_2D of the active unit, then deletes the GL texture.
    virtual void release(QOpenGLFunctions_3_3_Core* gl);

    bool isUploaded() const { return static_cast<bool>(texture); }

protected:
    // A new GL texture bound to GL_TEXTURE_2D of the active unit, with the wrap mode for S and T
    // and the filter for minification and magnification; upload() starts with it.
    void createBound(QOpenGLFunctions_3_3_Core* gl, GLenum wrap, GLenum filter);

    GLTexture texture;
};

} // namespace tavorin
