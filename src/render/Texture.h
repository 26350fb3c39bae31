#pragma once

class QOpenGLFunctions_3_3_Core;

// A 2D texture that creates its GL object at first bind. release() deletes it and lets the next
// bind upload again, in whatever context is then current. Render thread only.
class Texture {
public:
    virtual ~Texture() = default;
    virtual void upload(QOpenGLFunctions_3_3_Core* gl) = 0;
    // Uploads first if needed, then binds to GL_TEXTURE_2D of the active unit.
    virtual void bind(QOpenGLFunctions_3_3_Core* gl) = 0;
    virtual void release(QOpenGLFunctions_3_3_Core* gl) = 0;
};
