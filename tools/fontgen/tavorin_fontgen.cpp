// Renders the printable ASCII glyphs of a TrueType font into the 512 x 512 RGB atlas that the text
// overlay reads: codes 32 to 126, 16 glyphs per row, each in a cell of 32 x 51 pixels counted from
// the top-left corner; white glyphs on black, the glyph's coverage in all three channels.
//
// Usage: tavorin-fontgen FONT.ttf OUTPUT.png
#define STB_TRUETYPE_IMPLEMENTATION
#include <stb/stb_truetype.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "base/Console.h"

#include <fstream>
#include <iterator>
#include <vector>

namespace console = tavorin::console;

namespace {

constexpr int kImageSize = 512;   // pixels, square
constexpr int kChannels = 3;
constexpr int kCellWidth = 32;    // pixels; the overlay's advance
constexpr int kCellHeight = 51;   // pixels; the overlay's line height
constexpr int kColumns = 16;
constexpr int kFirstCode = 32;
constexpr int kLastCode = 126;
// Ascent to descent of the font in pixels; leaves a few pixels of the cell free above and below,
// so that linear filtering at the cell edges never picks up the neighbouring glyph.
constexpr float kFontPixelHeight = 46.0f;

bool readFile(const char* path, std::vector<unsigned char>& bytes)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !bytes.empty();
}

// Copies the glyph's coverage into its cell, centred horizontally, on the font's baseline.
void renderGlyph(const stbtt_fontinfo& font, float scale, int baseline, int code, std::vector<unsigned char>& image)
{
    const int cellX = ((code - kFirstCode) % kColumns) * kCellWidth;
    const int cellY = ((code - kFirstCode) / kColumns) * kCellHeight;

    int advance = 0;
    int leftBearing = 0;
    stbtt_GetCodepointHMetrics(&font, code, &advance, &leftBearing);
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    stbtt_GetCodepointBitmapBox(&font, code, scale, scale, &x0, &y0, &x1, &y1);
    const int glyphWidth = x1 - x0;
    const int glyphHeight = y1 - y0;
    if (glyphWidth <= 0 || glyphHeight <= 0)
        return;

    std::vector<unsigned char> coverage(static_cast<std::size_t>(glyphWidth * glyphHeight));
    stbtt_MakeCodepointBitmap(&font, coverage.data(), glyphWidth, glyphHeight, glyphWidth, scale, scale, code);

    const int penX = cellX + (kCellWidth - static_cast<int>(advance * scale + 0.5f)) / 2;
    for (int y = 0; y < glyphHeight; ++y) {
        const int imageY = cellY + baseline + y0 + y;
        if (imageY < cellY || imageY >= cellY + kCellHeight)
            continue;
        for (int x = 0; x < glyphWidth; ++x) {
            const int imageX = penX + x0 + x;
            if (imageX < cellX || imageX >= cellX + kCellWidth)
                continue;
            const unsigned char value = coverage[static_cast<std::size_t>(y * glyphWidth + x)];
            unsigned char* pixel = &image[static_cast<std::size_t>((imageY * kImageSize + imageX) * kChannels)];
            pixel[0] = pixel[1] = pixel[2] = value;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        console::err("Usage: tavorin-fontgen FONT.ttf OUTPUT.png");
        return 2;
    }
    std::vector<unsigned char> fontBytes;
    if (!readFile(argv[1], fontBytes)) {
        console::err("Cannot read font file ", argv[1]);
        return 1;
    }
    stbtt_fontinfo font;
    if (!stbtt_InitFont(&font, fontBytes.data(), stbtt_GetFontOffsetForIndex(fontBytes.data(), 0))) {
        console::err("Not a TrueType font: ", argv[1]);
        return 1;
    }

    const float scale = stbtt_ScaleForPixelHeight(&font, kFontPixelHeight);
    int ascent = 0, descent = 0, lineGap = 0;
    stbtt_GetFontVMetrics(&font, &ascent, &descent, &lineGap);
    const int fontHeight = static_cast<int>((ascent - descent) * scale + 0.5f);
    const int baseline = (kCellHeight - fontHeight) / 2 + static_cast<int>(ascent * scale + 0.5f);

    std::vector<unsigned char> image(static_cast<std::size_t>(kImageSize * kImageSize * kChannels), 0);
    for (int code = kFirstCode; code <= kLastCode; ++code)
        renderGlyph(font, scale, baseline, code, image);

    if (!stbi_write_png(argv[2], kImageSize, kImageSize, kChannels, image.data(), kImageSize * kChannels)) {
        console::err("Cannot write ", argv[2]);
        return 1;
    }
    return 0;
}
