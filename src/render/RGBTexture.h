#pragma once

#include "render/Texture.h"

#include <QOpenGLFunctions_3_3_Core>

#include <cstdint>
#include <string>

namespace tavorin {

// An 8-bit colour image file uploaded as RGB; the file's top row is uploaded first.
class RGBTexture : public Texture {
public:
    explicit RGBTexture(std::string path, GLenum filter = GL_LINEAR);

    // Loads the file; reports "Texture ... loaded." or "Failed to load texture" once, and is not
    // retried after a failure until release().
    void upload(QOpenGLFunctions_3_3_Core* gl) override;

    std::int32_t imageWidth() const { return width; }
    std::int32_t imageHeight() const { return height; }

private:
    std::string path;
    GLenum filter;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t channels = 0; // as stored in the file
};

} // namespace tavorin
