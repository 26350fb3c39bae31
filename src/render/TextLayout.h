#pragma once

#include <string>
#include <vector>

namespace tavorin {

// The glyph quads of one text in glyph space: a cell of 32 x 51 units per character, the pen
// starting at (0, 0) with y up; a line feed moves the pen down one line and back to x = 0.
// Texture coordinates address the font atlas with v = 0 at the image's top row.
struct TextLayout {
    static constexpr int kAdvance = 32;    // glyph-space units per character
    static constexpr int kLineHeight = 51; // glyph-space units per line
    static constexpr int kColumns = 16;    // glyphs per atlas row
    static constexpr int kFirstCode = 32;  // character of the atlas's first cell
    static constexpr float kCellU = 0.0625f;     // 1 / 16 of the atlas width
    static constexpr float kCellV = 0.099609375f; // 51 / 512 of the atlas height
    // The anchor moves left by the pen's final x divided by this (integer division).
    static constexpr int kAnchorDivisor = 9;

    std::vector<float> positions; // x, y per vertex, six vertices per glyph
    std::vector<float> texCoords; // u, v per vertex
    int penX = 0;                 // after the last glyph of the last line
    int penY = 0;

    int vertexCount() const { return static_cast<int>(positions.size() / 2); }
    // The x handed to the program for a text anchored at x pixels.
    int anchorX(int x) const { return x - penX / kAnchorDivisor; }
};

TextLayout layoutText(const std::string& text);

} // namespace tavorin
