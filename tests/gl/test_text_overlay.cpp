// The text overlay and the line drawer against the font atlas read back independently: where a
// label's glyphs land in the frame, which atlas cell a character samples, and the drawn line.
#include "GLTestContext.h"
#include "LightPlanningView.h"

#include "render/LineDrawer.h"
#include "render/RenderContext.h"
#include "render/TextLayout.h"
#include "render/TextRenderer.h"

#include <QColor>
#include <QImage>

#include <cmath>
#include <cstdlib>

using tavorin::drawText, tavorin::layoutText, tavorin::lineDrawer, tavorin::Mat4, tavorin::RenderContext,
    tavorin::TextLayout, tavorin::Vec4;

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;
constexpr float kAtlasScale = 51.0f; // font size at which one atlas texel is one pixel
constexpr int kCellWidth = 32;
constexpr int kCellHeight = 51;

RenderContext screen()
{
    RenderContext context;
    context.width = kWidth;
    context.height = kHeight;
    return context;
}

// Glyph quads of a text, checked without GL: pen, anchor and atlas cells.
TEST(TextLayout, PenAnchorLineFeedsAndAtlasCells)
{
    const TextLayout ab = layoutText("AB");
    EXPECT_EQ(ab.vertexCount(), 12);
    EXPECT_EQ(ab.penX, 64);
    EXPECT_EQ(ab.anchorX(100), 93);

    // "A\nB": B starts the second line, one line height down, at x = 0.
    const TextLayout twoLines = layoutText("A\nB");
    ASSERT_EQ(twoLines.vertexCount(), 12);
    EXPECT_FLOAT_EQ(twoLines.positions[12], 0.0f); // first vertex of B: (x0, y0)
    EXPECT_FLOAT_EQ(twoLines.positions[13], -51.0f);
    EXPECT_EQ(twoLines.penX, 32);

    // "!" (code 33): column 1, row 0; its first vertex is the cell's bottom-left corner.
    const TextLayout bang = layoutText("!");
    EXPECT_FLOAT_EQ(bang.texCoords[0], 0.0625f);
    EXPECT_FLOAT_EQ(bang.texCoords[1], 0.099609375f);
    EXPECT_FLOAT_EQ(bang.texCoords[4], 0.0625f); // third vertex: top-left, v = 0
    EXPECT_FLOAT_EQ(bang.texCoords[5], 0.0f);

    // "~" (code 126): column 14, row 5.
    const TextLayout tilde = layoutText("~");
    EXPECT_FLOAT_EQ(tilde.texCoords[4], 14 * 0.0625f);
    EXPECT_FLOAT_EQ(tilde.texCoords[5], 5 * 0.099609375f);

    EXPECT_EQ(layoutText("").vertexCount(), 0);
}

class TextOverlay : public GLTestContext {
protected:
    void setUpGL() override
    {
        atlas = QImage(QStringLiteral(TAVORIN_BINARY_DIR "/models/textures/font.png"));
        ASSERT_FALSE(atlas.isNull()) << "the build renders models/textures/font.png into the build folder";
        bindTarget(kWidth, kHeight);
        gl->glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    // Sum of |rendered - atlas| over one cell, the glyph drawn 1:1 with its cell's top-left
    // corner at image pixel (left, top).
    long cellDifference(const QImage& frame, int left, int top, int column, int row) const
    {
        long sum = 0;
        for (int y = 0; y < kCellHeight; ++y)
            for (int x = 0; x < kCellWidth; ++x) {
                const int drawn = frame.pixelColor(left + x, top + y).red();
                const int expected = atlas.pixelColor(column * kCellWidth + x, row * kCellHeight + y).red();
                sum += std::abs(drawn - expected);
            }
        return sum;
    }

    QImage atlas;
};

TEST_F(TextOverlay, TwoLettersAnchoredAt100LandRightOfX93)
{
    testing::internal::CaptureStdout();
    drawText(gl, screen(), "AB", 100, 200, kAtlasScale);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Texture models/textures/font.png loaded. 512 x 512 ( 3 Channels).\n");
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const QImage frame = readBack();

    // At 1:1 the two cells cover x = 93 .. 157 and y = 200 .. 251 from the bottom.
    const int top = kHeight - 251;
    const int bottom = kHeight - 200;
    EXPECT_EQ(whitePixels(frame, 0, 0, kWidth, kHeight, 60),
              whitePixels(frame, 93, top, 157, bottom, 60)) << "nothing outside the two cells";
    EXPECT_GT(whitePixels(frame, 93, top, 125, bottom, 60), 30) << "the A";
    EXPECT_GT(whitePixels(frame, 125, top, 157, bottom, 60), 30) << "the B";
    EXPECT_EQ(whitePixels(frame, 93, top, 97, bottom, 60), 0) << "glyphs are centred in their cells";
}

TEST_F(TextOverlay, ExclamationMarkIsSampledFromTheSecondCellOfTheFirstRow)
{
    // Anchor 203 - 32 / 9 = 200: the cell spans x = 200 .. 232 and y = 100 .. 151 from the bottom.
    drawText(gl, screen(), "!", 203, 100, kAtlasScale);
    const QImage frame = readBack();
    const int left = 200;
    const int top = kHeight - 151;
    const long own = cellDifference(frame, left, top, 1, 0);
    EXPECT_LT(own, cellDifference(frame, left, top, 0, 0) / 4) << "not the blank of code 32";
    EXPECT_LT(own, cellDifference(frame, left, top, 2, 0) / 4) << "not the quote of code 34";
    EXPECT_LT(own, cellDifference(frame, left, top, 1, 1) / 4) << "not the row below";
}

TEST_F(TextOverlay, EmptyTextDrawsNothingAndLeavesNoError)
{
    drawText(gl, screen(), "", 100, 100, 11.0f);
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(whitePixels(readBack(), 0, 0, kWidth, kHeight, 10), 0);
}

TEST_F(TextOverlay, LineRunsFromStartToEndInItsColour)
{
    const RenderContext view = lightPlanningView(kWidth, kHeight, Vec4::point(0, 0, 2), Vec4::point(0, 0, 0));
    const Vec4 start = Vec4::point(-0.5f, 0.0f, 0.0f);
    const Vec4 end = Vec4::point(0.5f, 0.0f, 0.0f);
    lineDrawer().drawLine(gl, view.projection, view.view, Mat4(), Vec4(0, 1, 0, 1), start, end);
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const QImage frame = readBack();

    auto greenNear = [&](const QPoint& p) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const QColor c = frame.pixelColor(p + QPoint(dx, dy));
                if (c.green() > 200 && c.red() < 50 && c.blue() < 50)
                    return true;
            }
        return false;
    };
    EXPECT_TRUE(greenNear(pixelOf(view, Vec4::point(-0.4f, 0, 0))));
    EXPECT_TRUE(greenNear(pixelOf(view, Vec4::point(0.4f, 0, 0))));
    EXPECT_FALSE(greenNear(pixelOf(view, Vec4::point(0.6f, 0, 0)))) << "the segment ends at end";
    EXPECT_FALSE(greenNear(pixelOf(view, Vec4::point(0.0f, 0.2f, 0)))) << "and stays on its line";
}

} // namespace
