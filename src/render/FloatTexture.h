#pragma once

#include "render/Texture.h"

#include <QOpenGLFunctions_3_3_Core>

#include <cstdint>

namespace tavorin {

// A single-channel 32-bit float grid (row by row). Does not copy: the data must stay valid until
// upload() has run. New data means a new FloatTexture.
class FloatTexture : public Texture {
public:
    FloatTexture(const float* data, std::int32_t width, std::int32_t height, GLenum filter = GL_LINEAR);

    void upload(QOpenGLFunctions_3_3_Core* gl) override;

private:
    GLenum filter;
    const float* data;
    std::int32_t width;
    std::int32_t height;
};

} // namespace tavorin
