#include "render/TextLayout.h"

namespace tavorin {

namespace {

void emitVertex(TextLayout& layout, float x, float y, float u, float v)
{
    layout.positions.push_back(x);
    layout.positions.push_back(y);
    layout.texCoords.push_back(u);
    layout.texCoords.push_back(v);
}

// Two triangles over the glyph cell at the pen.
void emitGlyph(TextLayout& layout, unsigned char ch)
{
    const int index = static_cast<int>(ch) - TextLayout::kFirstCode;
    // C++ remainder and division keep the sign of the dividend and truncate toward zero, as the
    // atlas addressing expects for control characters below the first code.
    const float u = static_cast<float>(index % TextLayout::kColumns) * TextLayout::kCellU;
    const float v = static_cast<float>(index / TextLayout::kColumns) * TextLayout::kCellV;
    const float du = TextLayout::kCellU;
    const float dv = TextLayout::kCellV;
    const float x0 = static_cast<float>(layout.penX);
    const float x1 = static_cast<float>(layout.penX + TextLayout::kAdvance);
    const float y0 = static_cast<float>(layout.penY);
    const float y1 = static_cast<float>(layout.penY + TextLayout::kLineHeight);
    emitVertex(layout, x0, y0, u, v + dv);
    emitVertex(layout, x1, y1, u + du, v);
    emitVertex(layout, x0, y1, u, v);
    emitVertex(layout, x1, y1, u + du, v);
    emitVertex(layout, x0, y0, u, v + dv);
    emitVertex(layout, x1, y0, u + du, v + dv);
    layout.penX += TextLayout::kAdvance;
}

} // namespace

TextLayout layoutText(const std::string& text)
{
    TextLayout layout;
    for (const char c : text) {
        const unsigned char ch = static_cast<unsigned char>(c);
        if (ch == '\n') {
            layout.penY -= TextLayout::kLineHeight;
            layout.penX = 0;
            continue;
        }
        emitGlyph(layout, ch);
    }
    return layout;
}

} // namespace tavorin
