#include "render/Texture.h"

namespace tavorin {

void Texture::bind(QOpenGLFunctions_3_3_Core* gl)
{
    if (!texture)
        upload(gl);
    gl->glBindTexture(GL_TEXTURE_2D, texture.name());
}

void Texture::createBound(QOpenGLFunctions_3_3_Core* gl, GLenum wrap, GLenum filter)
{
    texture.create(gl);
    gl->glBindTexture(GL_TEXTURE_2D, texture.name());
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, static_cast<GLint>(wrap));
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, static_cast<GLint>(wrap));
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(filter));
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLint>(filter));
}

void Texture::release(QOpenGLFunctions_3_3_Core* gl)
{
    gl->glBindTexture(GL_TEXTURE_2D, 0);
    texture.release(gl);
}

} // namespace tavorin
