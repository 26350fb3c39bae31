// The height map view: one point per sample, placed from its index and the area, the buffer
// following the record's size, and the message when there is nothing to show.
#include "GLTestContext.h"
#include "LightPlanningView.h"

#include "scene/HeightMapRecord.h"
#include "scene/HeightMapVisualizer.h"

#include <QColor>

#include <memory>
#include <vector>

using tavorin::HeightMapRecord, tavorin::HeightMapVisualizer, tavorin::Vec4;

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;

class HeightMapView : public GLTestContext {
protected:
    // Straight down from 2 m onto the grid at the origin; x to the right, z down the image.
    void setUpGL() override { viewFrom(kWidth, kHeight, Vec4::point(0, 2.0f, 0.001f), Vec4::point(0, 0, 0)); }
    void releaseGL() override { visualizer.release(gl); }

    // Primitives the draw generated, counted by GL.
    GLuint drawCounted(const std::shared_ptr<HeightMapRecord>& record)
    {
        GLuint query = 0;
        gl->glGenQueries(1, &query);
        visualizer.setData(record);
        gl->glBeginQuery(GL_PRIMITIVES_GENERATED, query);
        visualizer.draw(context, gl);
        gl->glEndQuery(GL_PRIMITIVES_GENERATED);
        GLuint count = 0;
        gl->glGetQueryObjectuiv(query, GL_QUERY_RESULT, &count);
        gl->glDeleteQueries(1, &query);
        return count;
    }

    HeightMapVisualizer visualizer;
};

std::shared_ptr<HeightMapRecord> grid(std::vector<float>& heights, int width, int height, float areaWidth,
                                      float areaHeight)
{
    auto record = std::make_shared<HeightMapRecord>();
    record->heights = heights.data();
    record->width = width;
    record->height = height;
    record->areaWidth = areaWidth;
    record->areaHeight = areaHeight;
    return record;
}

bool greyBackground(const QColor& c)
{
    return c.red() == 128 && c.green() == 128 && c.blue() == 128;
}

TEST_F(HeightMapView, HundredByEightyDrawsEightThousandPointsWhereTheSamplesLie)
{
    std::vector<float> heights(100 * 80, 0.0f);
    // An obstacle of 0.5 m on column 10, row 60: x = (10.5 / 100 - 0.5) * 1 m, z = (60.5 / 80 - 0.5) * 0.8 m.
    heights[60 * 100 + 10] = 0.5f;
    const auto record = grid(heights, 100, 80, 1.0f, 0.8f);

    EXPECT_EQ(drawCounted(record), 8000u);
    EXPECT_EQ(visualizer.bufferSamples(), 8000);
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const QImage image = readBack();

    const QPoint obstacle = pixelOf(context, Vec4::point(-0.395f, 0.5f, 0.205f));
    const QColor top = image.pixelColor(obstacle);
    EXPECT_FALSE(greyBackground(top));
    EXPECT_GT(top.red(), 200) << "half a metre up is drawn yellow";
    const QColor floor = image.pixelColor(pixelOf(context, Vec4::point(-0.395f, 0.0f, -0.205f)));
    EXPECT_LT(floor.red(), 60) << "the floor samples are teal";
    EXPECT_TRUE(greyBackground(image.pixelColor(pixelOf(context, Vec4::point(0.6f, 0, 0))))) << "beyond the area";
}

TEST_F(HeightMapView, BufferIsMadeAgainForARecordOfAnotherSize)
{
    std::vector<float> large(100 * 80, 0.1f);
    std::vector<float> small(10 * 10, 0.2f);
    EXPECT_EQ(drawCounted(grid(large, 100, 80, 1.0f, 1.0f)), 8000u);
    EXPECT_EQ(drawCounted(grid(small, 10, 10, 1.0f, 1.0f)), 100u);
    EXPECT_EQ(visualizer.bufferSamples(), 100);
    EXPECT_EQ(drawCounted(grid(large, 100, 80, 1.0f, 1.0f)), 8000u);
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Said once, not once per frame.
TEST_F(HeightMapView, NoRecordOrNoSamplesDrawsNothingAndSaysSo)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(drawCounted(nullptr), 0u);
    EXPECT_EQ(drawCounted(nullptr), 0u);
    std::vector<float> none;
    EXPECT_EQ(drawCounted(grid(none, 0, 5, 1.0f, 1.0f)), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No height map available.\n");
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
