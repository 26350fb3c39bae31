#pragma once

#include "app/MovedCameraWatch.h"
#include "calibration/cycle/DepthCameraCalibrator.h"
#include "render/RenderContext.h"
#include "scene/Composite3D.h"
#include "scene/DepthCameraProcessor.h"
#include "scene/OrbitCamera.h"
#include "scene/SceneState.h"

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tavorin {

class Cursor;
class DepthCamera;
class HeightMapVisualizer;
class LightModule;
class LightTargetVisualizer;
class CameraViewOptions;
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
    void attachViewOptions(CameraViewOptions* options) { viewOptions = options; }

    void initialize(QOpenGLFunctions_3_3_Core* gl) override;
    void setViewportSize(int width, int height);
    void frame(QOpenGLFunctions_3_3_Core* gl);
    // Releases every GL object the scene and the process-wide programs hold in the current
    // context; initialize() in a later context builds them again.
    void release(QOpenGLFunctions_3_3_Core* gl) override;

    // GUI thread. Moves the 3D cursor to the camera point nearest to the viewport pixel (px, py),
    // from the top-left corner; nothing within 9999 pixels changes nothing.
    void pickPoint(int px, int py);

    // GUI thread (Fix). Moves the matrix of the camera whose matrix file is `configPath` as the
    // moved-camera check found the camera moved (room frame kept), in memory; from then on its
    // check compares with the still view that showed the motion. False, said on the console, when
    // the camera's last check did not find it moved, registration placed it anew since, or it no
    // longer streams.
    bool fixMovedCamera(const std::string& configPath);
    // GUI thread, after the matrices were stored: beside each matrix of `matrixFiles`, the reference of the
    // still view its last check saw (atomically, the previous one kept). Refused, with a line on
    // standard error, for a camera not seen still yet or found moved and not fixed.
    void storeStillViewReferences(const std::vector<std::string>& matrixFiles);

    // GUI thread. Frames every cloud: the orbit centres on the clouds and comes to the distance at
    // which their bounds fill the view, keeping its direction; false (nothing changes) without
    // points. The bounds are those of a subsample of each record, less its outermost 1 % along
    // each axis, so that a few stray points do not shrink the clouds to a dot.
    bool frameAll();
    // GUI thread. The orbit turns around the 3D cursor from then on; picking never moves it.
    void centreOnCursor();
    // GUI thread. Room point id (0, 1, 2) was saved at this point in camera 0's own coordinates
    // (as the right bar keeps it): from now on it is marked in the view, in its button's colour.
    void setSavedRoomPoint(int id, const Vec4& point_camera0);
    // Called on the render thread after a frame in which the number of cameras shown, or whether
    // the view needs a frame after every frame, changed. Set it before the first frame.
    using ActivityListener = std::function<void(int cameraCount, bool needsFrames)>;
    void setActivityListener(ActivityListener listener) { activityListener = std::move(listener); }

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
    // Render thread, every few frames: each camera's verdict, figures and plate coverage.
    void publishQuality();
    void drawDataVisuals(QOpenGLFunctions_3_3_Core* gl);
    void followTarget();
    void drawPointClouds(QOpenGLFunctions_3_3_Core* gl);
    void drawHeightMap(QOpenGLFunctions_3_3_Core* gl);
    void drawLightModules(QOpenGLFunctions_3_3_Core* gl);
    void drawCursor(QOpenGLFunctions_3_3_Core* gl);
    void drawSavedRoomPoints(QOpenGLFunctions_3_3_Core* gl);
    void drawReticle(const Vec4& p, QOpenGLFunctions_3_3_Core* gl);
    // Render thread: the metres one viewport pixel spans at the depth of p; 0 behind the eye.
    float metresPerPixel(const Vec4& p) const;
    void publishActivity(bool registering, bool sourceReplaced, const PlaybackStatus& playback);
    void drawTubes(QOpenGLFunctions_3_3_Core* gl);
    void drawLightTarget(const TubeRecord& tube, QOpenGLFunctions_3_3_Core* gl);
    void drawSamplePoints(const TubeRecord& tube, QOpenGLFunctions_3_3_Core* gl);
    void drawDebugLines(QOpenGLFunctions_3_3_Core* gl);
    Vec4 cursorPoint() const;

    std::array<std::unique_ptr<ShadowMap>, 4> shadowLights;
    SceneState state;
    DepthCameraCalibrator calibrator;
    std::uint32_t framesSinceQuality = 0;
    std::size_t qualityCameras = 0; // how many cameras the bar's quality section last showed
    std::shared_ptr<LightTargetVisualizer> lightTargetNode;
    std::shared_ptr<LightModule> lightModuleNode;
    std::shared_ptr<DepthCamera> depthCameraNode;
    std::shared_ptr<HeightMapVisualizer> heightMapNode;
    std::shared_ptr<ScenePoint> samplePointNode;
    std::shared_ptr<Cursor> cursorNode;
    OrbitCamera orbitCamera;
    RenderContext context;
    SceneSettings* rightBar = nullptr; // non-owning: the right bar, owned by the global state
    CameraViewOptions* viewOptions = nullptr; // non-owning: the view options, owned by the global state
    std::mutex frameMutex;
    // Render thread: how long the last frame step took besides calibration.
    std::chrono::steady_clock::duration frameWork{};
    std::optional<double> lastLiveCycleCapture; // the reference camera's capture of the last live cycle
    std::optional<Vec4> followedTube; // render thread: where tube 0 was when the orbit last followed it
    std::array<std::optional<Vec4>, 3> savedRoomPoints_camera0; // guarded by frameMutex
    ActivityListener activityListener; // set before the first frame, called on the render thread
    // Render thread: what was last reported to the listener, and when the scene last changed.
    int reportedCameras = -1;
    bool reportedNeedsFrames = true;
    std::chrono::steady_clock::time_point lastSceneChange = std::chrono::steady_clock::now();
    // Last, so that its thread, which reports to the right bar, ends first.
    MovedCameraWatch movedCameras;
};

} // namespace tavorin
