#pragma once

#include "calibration/DepthCameraCalibrator.h"
#include "render/RenderContext.h"
#include "scene/Composite3D.h"
#include "scene/OrbitCamera.h"
#include "scene/SceneState.h"

#include <array>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace tavorin {

class Cursor;
class DepthCamera;
class HeightMapVisualizer;
class LightModule;
class LightTargetVisualizer;
class SceneSettings;
class ScenePoint;
class ShadowMap;
struct TubeRecord;

// Root of everything the viewport shows: the axis bars of the room origin in its tree, four
// shadow lights, the orbiting view camera and one reusable node per kind of data record, drawn
// once per record each frame. Units are metres, y up.
// Render thread: initialize, setViewportSize, frame, release. GUI thread: camera() edits and
// pickPoint. GUI-thread operations that read the camera records or set matrices hold frameLock().
class Scene : public Composite3D {
public:
    static constexpr float kFrameSeconds = 1.0f / 60.0f;

    Scene();
    ~Scene() override;

    void attachRightBar(SceneSettings* rightBar) { this->rightBar = rightBar; }

    void initialize(QOpenGLFunctions_3_3_Core* gl) override;
    void setViewportSize(int width, int height);
    void frame(QOpenGLFunctions_3_3_Core* gl);
    // Releases every GL object the scene and the process-wide programs hold in the current
    // context; initialize() in a later context builds them again.
    void release(QOpenGLFunctions_3_3_Core* gl) override;

    // GUI thread. Moves the 3D cursor to the camera point nearest to the viewport pixel (px, py),
    // from the top-left corner; nothing within 9999 pixels changes nothing.
    void pickPoint(int px, int py);

    OrbitCamera& camera() { return orbitCamera; }
    SceneState& sceneState() { return state; }
    // Held by the render thread for the whole frame step; GUI-thread readers of the camera
    // records take it too, so that they never see the list half refilled.
    std::mutex& frameLock() { return frameMutex; }
    // Render thread, or under frameLock().
    const RenderContext& renderContext() const { return context; }
    const ShadowMap& shadowLight(int index) const { return *shadowLights[static_cast<std::size_t>(index)]; }

private:
    void addAxisBars();
    void runCalibrationCycle();
    void runOnNextLiveFramesIfSkipped();
    // Render thread: the calibrator's progress lines into the settings bar.
    void publishProgress();
    void publishFrameSetTiming();
    void drawDataVisuals(QOpenGLFunctions_3_3_Core* gl);
    void followTarget();
    void drawPointClouds(QOpenGLFunctions_3_3_Core* gl);
    void drawHeightMap(QOpenGLFunctions_3_3_Core* gl);
    void drawLightModules(QOpenGLFunctions_3_3_Core* gl);
    void drawCursor(QOpenGLFunctions_3_3_Core* gl);
    void drawTubes(QOpenGLFunctions_3_3_Core* gl);
    void drawLightTarget(const TubeRecord& tube, QOpenGLFunctions_3_3_Core* gl);
    void drawSamplePoints(const TubeRecord& tube, QOpenGLFunctions_3_3_Core* gl);
    void drawDebugLines(QOpenGLFunctions_3_3_Core* gl);
    Vec4 cursorPoint() const;

    std::array<std::unique_ptr<ShadowMap>, 4> shadowLights;
    SceneState state;
    DepthCameraCalibrator calibrator;
    std::shared_ptr<LightTargetVisualizer> lightTargetNode;
    std::shared_ptr<LightModule> lightModuleNode;
    std::shared_ptr<DepthCamera> depthCameraNode;
    std::shared_ptr<HeightMapVisualizer> heightMapNode;
    std::shared_ptr<ScenePoint> samplePointNode;
    std::shared_ptr<Cursor> cursorNode;
    OrbitCamera orbitCamera;
    RenderContext context;
    SceneSettings* rightBar = nullptr; // non-owning: the right bar, owned by the global state
    std::mutex frameMutex;
    // Render thread: how long the last frame step took besides calibration.
    std::chrono::steady_clock::duration frameWork{};
    std::optional<double> lastLiveCycleCapture; // the reference camera's capture of the last live cycle
};

} // namespace tavorin
