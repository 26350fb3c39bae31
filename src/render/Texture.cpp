#include "render/Texture.h"

void Texture::bind(QOpenGLFunctions_3_3_Core* gl)
{
    if (!texture)
        upload(gl);
    gl->glBindTexture(GL_TEXTURE_2D, texture.name());
}

void Texture::release(QOpenGLFunctions_3_3_Core* gl)
{
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    texture.release(gl);
}
