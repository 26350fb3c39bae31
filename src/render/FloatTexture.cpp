#include "render/FloatTexture.h"

namespace tavorin {

FloatTexture::FloatTexture(const float* data_, std::int32_t width_, std::int32_t height_, GLenum filter_)
    : filter(filter_), data(data_), width(width_), height(height_)
{
}

void FloatTexture::upload(QOpenGLFunctions_3_3_Core* gl)
{
    createBound(gl, GL_CLAMP_TO_EDGE, filter);
    gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_R32F, width, height, 0, GL_RED, GL_FLOAT, data);
}

} // namespace tavorin
