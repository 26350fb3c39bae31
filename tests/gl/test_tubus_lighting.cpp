// The sensor tubus lit by two modules, one of them behind an obstacle of the height map, and the
// life of its per-draw height map texture. Ground truth: the geometry of the set-up (which inner
// wall faces which module, which rays the obstacle cuts), worked out in the comments.
#include "GLTestContext.h"
#include "LightPlanningView.h"
#include "TestShadowLights.h"

#include "render/FloatTexture.h"
#include "scene/HeightMapRecord.h"
#include "scene/LightModuleRecord.h"
#include "scene/LightTargetVisualizer.h"
#include "scene/SensorTubus.h"

#include <QColor>

#include <memory>
#include <vector>

using tavorin::alignDirection, tavorin::approxEqual, tavorin::Composite3D, tavorin::FloatTexture,
    tavorin::HeightMapRecord, tavorin::LightModuleRecord, tavorin::LightTargetVisualizer, tavorin::Mat4,
    tavorin::normalize, tavorin::translate, tavorin::Vec4;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr float kDiameter = 0.1f; // metres
constexpr float kDepth = 0.06f;   // metres
constexpr int kGrid = 50;         // height samples per side, 2 cm apart over 1 m

// A module at position, aimed at the tube opening at the origin, at half of its full power.
std::shared_ptr<LightModuleRecord> moduleAimedAtOrigin(const Vec4& position)
{
    auto record = std::make_shared<LightModuleRecord>();
    record->transform = translate(Mat4(), position.x, position.y, position.z);
    const Vec4 toOrigin = normalize(Vec4::point(0, 0, 0) - position);
    record->aiming = alignDirection(Vec4::direction(0, -1, 0), toOrigin, Vec4::direction(0, 0, 1));
    record->intensity = 500.0f;
    record->maxIntensity = 1000.0f;
    return record;
}

class TubusLighting : public GLTestContext {
protected:
    void setUpGL() override
    {
        // Into the cup from above, a little towards +z.
        viewFrom(kWidth, kHeight, Vec4::point(0, 0.25f, 0.08f), Vec4::point(0, -0.03f, 0));
        Composite3D nothing;
        shadowLights.render(gl, nothing, context);

        // Module A on the +x side, module B on the -x side, both 1 m from the opening.
        lights = {moduleAimedAtOrigin(Vec4::point(0.6f, 0.8f, 0.0f)), moduleAimedAtOrigin(Vec4::point(-0.6f, 0.8f, 0.0f))};
        heights.assign(kGrid * kGrid, 0.0f);
        target = std::make_shared<HeightMapRecord>();
        target->heights = heights.data();
        target->width = kGrid;
        target->height = kGrid;
        target->areaWidth = 1.0f;
        target->areaHeight = 1.0f;
    }
    void releaseGL() override
    {
        visualizer.release(gl);
        shadowLights.release(gl);
    }

    // A wall 0.6 m high over x = -0.4 .. -0.2 m, all along z: between B and the tube. The ray from
    // the +x wall (x = 0.05, y = -0.02) to B crosses x = -0.3 at y = 0.42, below the wall's top; the
    // rays to A run over x > -0.05 and never meet it.
    void raiseObstacle()
    {
        for (int row = 0; row < kGrid; ++row)
            for (int column = 0; column < kGrid; ++column) {
                const float x = ((column + 0.5f) / kGrid - 0.5f) * target->areaWidth;
                if (x > -0.4f && x < -0.2f)
                    heights[static_cast<std::size_t>(row * kGrid + column)] = 0.6f;
            }
    }

    // What the scene does per tube, with the tube's size applied before the draw.
    QImage drawTube(const std::shared_ptr<HeightMapRecord>& lightTarget)
    {
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        visualizer.tubus()->resetTransform();
        visualizer.tubus()->scale(kDiameter, kDepth, kDiameter);
        visualizer.setLocalMatrix(Mat4());
        visualizer.updateTransform(context, Mat4());
        visualizer.setLightTarget(lightTarget);
        visualizer.setLights(lights);
        visualizer.draw(context, gl);
        EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        return readBack();
    }

    // Mean blue over 3 x 3 pixels at a room point: the colour scale runs from dark blue (0.3) at
    // no light to full blue at a quarter of its maximum, which these half-power modules stay below.
    double blueAt(const QImage& image, const Vec4& roomPoint) const
    {
        const QPoint p = pixelOf(context, roomPoint);
        double sum = 0.0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                sum += image.pixelColor(p + QPoint(dx, dy)).blue();
        return sum / 9.0;
    }

    TestShadowLights shadowLights;
    LightTargetVisualizer visualizer;
    std::vector<std::shared_ptr<LightModuleRecord>> lights;
    std::vector<float> heights;
    std::shared_ptr<HeightMapRecord> target;
};

// The inner wall at x = -0.05 faces +x, towards A; the wall at x = +0.05 faces B.
const Vec4 kWallFacingA = Vec4::point(-0.0495f, -0.02f, 0.0f);
const Vec4 kWallFacingB = Vec4::point(0.0495f, -0.02f, 0.0f);
constexpr double kDarkBlue = 0.3 * 255;

TEST_F(TubusLighting, WallFacingABlockedModuleIsDarkerThanTheWallItsNeighbourLights)
{
    ASSERT_TRUE(approxEqual(lights[0]->aiming * Vec4::direction(0, -1, 0), Vec4::direction(-0.6f, -0.8f, 0)));
    ASSERT_TRUE(approxEqual(lights[1]->aiming * Vec4::direction(0, -1, 0), Vec4::direction(0.6f, -0.8f, 0)));

    const QImage open = drawTube(target);
    EXPECT_GT(blueAt(open, kWallFacingA), kDarkBlue + 40);
    EXPECT_GT(blueAt(open, kWallFacingB), kDarkBlue + 40) << "without the obstacle B lights its wall";
    EXPECT_NEAR(blueAt(open, kWallFacingA), blueAt(open, kWallFacingB), 25) << "the set-up is symmetric";

    raiseObstacle();
    const QImage blocked = drawTube(target);
    blocked.save("/tmp/tavorin_gl_tubus_blocked.png");
    EXPECT_GT(blueAt(blocked, kWallFacingA), blueAt(open, kWallFacingA) - 10) << "A still shines in";
    EXPECT_NEAR(blueAt(blocked, kWallFacingB), kDarkBlue, 12) << "B's light is cut by the obstacle";
    EXPECT_GT(blueAt(blocked, kWallFacingA), blueAt(blocked, kWallFacingB) + 40);

    // Without a light target nothing occludes: B's wall is lit again.
    EXPECT_GT(blueAt(drawTube(nullptr), kWallFacingB), kDarkBlue + 40);
}

TEST_F(TubusLighting, ModulesSwitchedOffLeaveTheSurfaceUnlit)
{
    for (const auto& light : lights)
        light->intensity = 0.0f;
    const QImage image = drawTube(target);
    EXPECT_NEAR(blueAt(image, kWallFacingA), kDarkBlue, 3);
    EXPECT_NEAR(blueAt(image, kWallFacingB), kDarkBlue, 3);
}

TEST_F(TubusLighting, AtMostOneHeightMapTextureLivesAndNoneWithoutALightTarget)
{
    GLint first = 0;
    GLint second = 0;
    GLint none = 0;
    drawTube(target);
    gl->glActiveTexture(GL_TEXTURE0);
    gl->glGetIntegerv(GL_TEXTURE_BINDING_2D, &first);
    const std::weak_ptr<FloatTexture> firstTexture = visualizer.tubus()->currentHeightMapTexture();
    ASSERT_NE(first, 0);
    EXPECT_TRUE(gl->glIsTexture(static_cast<GLuint>(first)));

    drawTube(target);
    gl->glGetIntegerv(GL_TEXTURE_BINDING_2D, &second);
    EXPECT_TRUE(firstTexture.expired());
    EXPECT_TRUE(gl->glIsTexture(static_cast<GLuint>(second)));
    // Either the name was free again for the second texture, or the first one is gone.
    EXPECT_TRUE(second == first || !gl->glIsTexture(static_cast<GLuint>(first)));

    drawTube(nullptr);
    gl->glGetIntegerv(GL_TEXTURE_BINDING_2D, &none);
    EXPECT_EQ(none, 0);
    EXPECT_FALSE(gl->glIsTexture(static_cast<GLuint>(second)));
    EXPECT_EQ(visualizer.tubus()->currentHeightMapTexture(), nullptr);
}

TEST_F(TubusLighting, CleanupDeletesTheTextureAndTheNextDrawBuildsEverythingAgain)
{
    const QImage before = drawTube(target);
    GLint texture = 0;
    gl->glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    visualizer.release(gl);
    EXPECT_FALSE(gl->glIsTexture(static_cast<GLuint>(texture)));
    EXPECT_EQ(visualizer.tubus()->currentHeightMapTexture(), nullptr);
    EXPECT_FALSE(visualizer.tubus()->isInitialized());
    EXPECT_EQ(drawTube(target), before);
}

} // namespace
