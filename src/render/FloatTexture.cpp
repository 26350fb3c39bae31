#include "render/FloatTexture.h"

FloatTexture::FloatTexture(const float* data_, std::int32_t width_, std::int32_t height_, GLenum filter_)
    : filter(filter_), data(data_), width(width_), height(height_)
{
}

void FloatTexture::upload(QOpenGLFunctions_3_3_Core* gl)
{
    texture.create(gl);
    gl->glBindTexture(GL_TEXTURE_2D, texture.name());
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(filter));
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLint>(filter));
    gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_R32F, width, height, 0, GL_RED, GL_FLOAT, data);
}
