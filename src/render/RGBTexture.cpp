#include "render/RGBTexture.h"

#include "base/Console.h"

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <filesystem>

namespace tavorin {

namespace {
// Every image goes up as 8-bit RGB, whatever it holds in the file: stb converts grey, grey+alpha
// and RGBA on load, so the upload never reads past the decoded buffer.
constexpr int kUploadChannels = 3;

// The file at `path` under the working directory, or else under the executable's folder, where
// the build writes the data it generates (the font atlas).
std::string locate(const std::string& path)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::exists(path, error))
        return path;
    const fs::path beside = fs::read_symlink("/proc/self/exe", error).parent_path() / path;
    return !error && fs::exists(beside, error) ? beside.string() : path;
}
} // namespace

RGBTexture::RGBTexture(std::string path_, GLenum filter_) : path(std::move(path_)), filter(filter_) {}

void RGBTexture::upload(QOpenGLFunctions_3_3_Core* gl)
{
    createBound(gl, GL_REPEAT, filter);

    stbi_set_flip_vertically_on_load(0);
    int fileChannels = 0;
    unsigned char* pixels = stbi_load(locate(path).c_str(), &width, &height, &fileChannels, kUploadChannels);
    if (pixels) {
        channels = fileChannels;
        // Rows of 3-byte pixels are not 4-byte aligned unless the width is a multiple of 4.
        GLint previousAlignment = 4;
        gl->glGetIntegerv(GL_UNPACK_ALIGNMENT, &previousAlignment);
        gl->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);
        gl->glPixelStorei(GL_UNPACK_ALIGNMENT, previousAlignment);
        gl->glGenerateMipmap(GL_TEXTURE_2D);
        console::out("Texture ", path, " loaded. ", width, " x ", height, " ( ", channels, " Channels).");
    } else {
        width = height = channels = 0;
        console::out("Failed to load texture");
    }
    stbi_image_free(pixels);
}

} // namespace tavorin
