// The light-planning display in the scene's frame, with records supplied here (nothing in the
// system creates them): modules with their labels, the height map points, the lit tube with its
// sample points and a debug line, all in one frame without a GL error. The frame is saved as
// light_planning_scene.png in the build folder.
#include "GLTestContext.h"
#include "LightPlanningView.h"

#include "app/Scene.h"
#include "scene/HeightMapRecord.h"
#include "scene/LightModuleRecord.h"
#include "scene/SceneState.h"
#include "scene/TubeRecord.h"
#include "ui/RightBarViewModel.h"

#include <QColor>

#include <memory>
#include <vector>

using tavorin::alignDirection, tavorin::DebugLine, tavorin::HeightMapRecord, tavorin::LightModuleRecord, tavorin::Mat4,
    tavorin::normalize, tavorin::RenderContext, tavorin::RightBarViewModel, tavorin::Scene, tavorin::SceneState,
    tavorin::translate, tavorin::TubeRecord, tavorin::TubeSamplePoint, tavorin::Vec4;

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 500;
constexpr int kGrid = 60;            // height samples per side
constexpr float kAreaSide = 1.2f;    // metres
const Vec4 kTubeOrigin = Vec4::point(0.5f, 0.0f, 0.5f);

std::shared_ptr<LightModuleRecord> module(const Vec4& position, std::uint16_t status, float intensity)
{
    auto record = std::make_shared<LightModuleRecord>();
    record->transform = translate(Mat4(), position.x, position.y, position.z);
    record->aiming = alignDirection(Vec4::direction(0, -1, 0), normalize(kTubeOrigin - position),
                                    Vec4::direction(0, 0, 1));
    record->status = status;
    record->intensity = intensity;
    record->maxIntensity = 1000.0f;
    return record;
}

class LightPlanningScene : public GLTestContext {
protected:
    void setUpGL() override
    {
        rightBar.setCalibCursorMode(false); // the camera follows tube 0
        rightBar.setDebug_showHeightMap(true);
        rightBar.setDebug_showRays(true);
        rightBar.setDebug_renderModuleBrightnessText(true);
        scene.attachRightBar(&rightBar);
        bindTarget(kWidth, kHeight);
        scene.initialize(gl);
        // From above the -z side of the tube, 1.3 m away.
        scene.camera().setPointer(0, 0);
        scene.camera().drag(314, 200);
        for (int i = 0; i < 6; ++i)
            scene.camera().zoom(0.8f);
        supplyRecords();
    }
    void releaseGL() override { scene.release(gl); }

    void supplyRecords()
    {
        SceneState& state = scene.sceneState();
        state.lights = {module(Vec4::point(0.85f, 0.7f, 0.5f), LightModuleRecord::kStatusOk, 1000.0f),
                        module(Vec4::point(0.15f, 0.7f, 0.5f), LightModuleRecord::kStatusOk, 800.0f),
                        module(Vec4::point(0.5f, 0.7f, 0.85f),
                               LightModuleRecord::kFaultCommunication | LightModuleRecord::kFaultAxisX, 0.0f)};

        auto tube = std::make_shared<TubeRecord>();
        tube->transform = translate(Mat4(), kTubeOrigin.x, kTubeOrigin.y, kTubeOrigin.z);
        tube->diameter = 0.2f;
        tube->depth = 0.08f;
        for (float x : {-0.05f, 0.0f, 0.05f}) {
            auto sample = std::make_shared<TubeSamplePoint>();
            sample->transform = translate(Mat4(), x, -tube->depth, 0.0f);
            tube->samplePoints.push_back(sample);
        }
        state.tubes = {tube};

        // A 0.3 m block on the -x side of the tube, in the path of the module at x = 0.15: the ray
        // from the tube opening to it crosses the block's middle (x = -0.115) at y = 0.23.
        heights.assign(kGrid * kGrid, 0.0f);
        for (int row = 0; row < kGrid; ++row)
            for (int column = 0; column < kGrid; ++column) {
                const float x = ((column + 0.5f) / kGrid - 0.5f) * kAreaSide;
                const float z = ((row + 0.5f) / kGrid - 0.5f) * kAreaSide;
                if (x > -0.15f && x < -0.08f && z > -0.2f && z < 0.2f)
                    heights[static_cast<std::size_t>(row * kGrid + column)] = 0.3f;
            }
        auto map = std::make_shared<HeightMapRecord>();
        map->transform = translate(Mat4(), kTubeOrigin.x, 0.0f, kTubeOrigin.z);
        map->heights = heights.data();
        map->width = kGrid;
        map->height = kGrid;
        map->areaWidth = kAreaSide;
        map->areaHeight = kAreaSide;
        state.heightMap = map;
        state.lightTarget = map;
    }

    QImage renderFrame()
    {
        scene.sceneState().debugLines.push_back(
            DebugLine{Vec4(0, 1, 0, 1), Vec4::point(0.3f, 0.45f, 0.9f), Vec4::point(0.3f, 0.45f, 0.1f)});
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        scene.setViewportSize(kWidth, kHeight);
        scene.frame(gl);
        return readBack();
    }

    QColor colorAt(const QImage& image, const Vec4& roomPoint) const
    {
        return image.pixelColor(pixelOf(scene.renderContext(), roomPoint));
    }

    RightBarViewModel rightBar;
    Scene scene;
    std::vector<float> heights;
};

TEST_F(LightPlanningScene, FrameShowsModulesLabelsHeightMapLitTubeAndDebugLine)
{
    while (gl->glGetError() != GL_NO_ERROR) {
    }
    renderFrame(); // the camera moves to the tube, the tubus takes the tube's size
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const QImage image = renderFrame();
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    image.save(QStringLiteral(TAVORIN_BINARY_DIR "/light_planning_scene.png"));
    EXPECT_TRUE(scene.sceneState().debugLines.empty());

    const RenderContext& view = scene.renderContext();
    const QColor line = colorAt(image, Vec4::point(0.3f, 0.45f, 0.5f));
    EXPECT_GT(line.green(), 200) << "the debug line";
    EXPECT_LT(line.red(), 60);

    // Labels: "1000" and "800" of the modules in order, " COM X-AX" of the faulty one.
    for (const auto& light : scene.sceneState().lights) {
        const QPoint p = pixelOf(view, light->transform.translation());
        EXPECT_GT(whitePixels(image, p.x() - 40, p.y() - 14, p.x() + 80, p.y() + 2, 230), 5);
    }

    const QColor obstacleTop = colorAt(image, Vec4::point(0.5f - 0.11f, 0.3f, 0.5f + 0.01f));
    EXPECT_GT(obstacleTop.red(), 150) << "height map points on the block";
    EXPECT_GT(obstacleTop.green(), 100);

    const QColor tubeBottom = colorAt(image, Vec4::point(0.5f, -0.08f, 0.5f + 0.03f));
    EXPECT_GT(tubeBottom.blue(), 120) << "the lit tube bottom";
    EXPECT_LT(tubeBottom.red(), 100);
}

} // namespace
