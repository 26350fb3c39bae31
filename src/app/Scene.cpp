#include "app/Scene.h"

#include "acquisition/DepthSourceFactory.h"
#include "app/SceneSettings.h"
#include "calibration/RegistrationProgress.h"
#include "render/LineDrawer.h"
#include "render/ShadowMap.h"
#include "render/SharedGLObjects.h"
#include "scene/Cube.h"
#include "scene/Cursor.h"
#include "scene/DepthCamera.h"
#include "scene/DepthCameraData.h"
#include "scene/DepthCameraProcessor.h"
#include "scene/HeightMapVisualizer.h"
#include "scene/LightModule.h"
#include "scene/LightModuleRecord.h"
#include "scene/LightTargetVisualizer.h"
#include "scene/ScenePoint.h"
#include "scene/SensorTubus.h"
#include "scene/ShadowRenderTraverser.h"
#include "scene/TubeRecord.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <optional>
#include <sstream>

namespace tavorin {

namespace {

constexpr float kCursorLength = 0.05f;     // metres
constexpr float kCursorThickness = 0.0025f; // metres
constexpr float kSamplePointSize = 0.0025f; // metres
constexpr float kAxisBarLength = 0.2f;      // metres
constexpr float kAxisBarThickness = 0.01f;  // metres

const Vec4 kShadowLightPositions[4] = {Vec4::point(2.0f, 1.8f, 2.0f), Vec4::point(2.0f, 1.8f, -2.0f),
                                       Vec4::point(-2.0f, 1.8f, -2.0f), Vec4::point(-2.0f, 1.8f, 2.0f)};
constexpr Vec4 kShadowLightTarget = Vec4::point(0.0f, 0.0f, 0.0f);

constexpr std::int32_t kNoPickYet = 9999999; // pixels
constexpr std::int32_t kPickRange = 9999;    // pixels; a best distance at or beyond it picks nothing

std::shared_ptr<Cube> axisBar(float sx, float sy, float sz, float tx, float ty, float tz, float r, float g, float b)
{
    auto bar = std::make_shared<Cube>();
    bar->scale(sx, sy, sz);
    bar->translate(tx, ty, tz);
    bar->setColor(r, g, b, 1.0f);
    return bar;
}

} // namespace

Scene::Scene()
    : lightTargetNode(std::make_shared<LightTargetVisualizer>()), lightModuleNode(std::make_shared<LightModule>()),
      depthCameraNode(std::make_shared<DepthCamera>()), heightMapNode(std::make_shared<HeightMapVisualizer>()),
      samplePointNode(std::make_shared<ScenePoint>()),
      cursorNode(std::make_shared<Cursor>(false, kCursorLength, kCursorThickness))
{
    addAxisBars();
    for (std::size_t i = 0; i < shadowLights.size(); ++i) {
        shadowLights[i] = std::make_unique<ShadowMap>(kShadowLightPositions[i], kShadowLightTarget);
        context.shadowMaps[i] = shadowLights[i].get();
    }
    state.depthSource = createLiveSource();
}

Scene::~Scene() = default;

void Scene::addAxisBars()
{
    constexpr float half = kAxisBarLength / 2.0f;
    constexpr float t = kAxisBarThickness;
    addChild(axisBar(kAxisBarLength, t, t, half, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f));
    addChild(axisBar(t, kAxisBarLength, t, 0.0f, half, 0.0f, 0.0f, 1.0f, 0.0f));
    addChild(axisBar(t, t, kAxisBarLength, 0.0f, 0.0f, half, 0.0f, 0.0f, 1.0f));
}

void Scene::initialize(QOpenGLFunctions_3_3_Core* gl)
{
    for (const auto& shadowLight : shadowLights)
        shadowLight->initialize(gl);
    Composite3D::initialize(gl);
}

void Scene::setViewportSize(int width, int height)
{
    std::lock_guard<std::mutex> lock(frameMutex);
    context.width = width;
    context.height = height;
    context.projection = orbitCamera.projection(width, height);
}

void Scene::frame(QOpenGLFunctions_3_3_Core* gl)
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const bool registering = rightBar && rightBar->depthCameraRegistrationEnabled();
    if (registering) {
        runCalibrationCycle();
    } else {
        if (state.depthSource)
            state.depthSource->resumeClock();
        calibrator.refreshJointEstimate(state);
    }
    const auto workStart = std::chrono::steady_clock::now();
    context.view = orbitCamera.view();
    context.time += kFrameSeconds;
    updateTransform(context, Mat4());
    update(context);
    for (const auto& shadowLight : shadowLights)
        renderShadows(gl, *shadowLight, *this);
    draw(context, gl);
    state.step();
    publishFrameSetTiming();
    if (registering && state.depthSource)
        state.depthSource->holdForCalibration(); // a source set by this step starts at its first frame
    drawDataVisuals(gl);
    frameWork = std::chrono::steady_clock::now() - workStart;
}

void Scene::release(QOpenGLFunctions_3_3_Core* gl)
{
    Composite3D::release(gl);
    lightTargetNode->release(gl);
    lightModuleNode->release(gl);
    depthCameraNode->release(gl);
    heightMapNode->release(gl);
    samplePointNode->release(gl);
    cursorNode->release(gl);
    lineDrawer().release(gl);
    for (const auto& shadowLight : shadowLights)
        shadowLight->release(gl);
    releaseSharedGLObjects(gl);
}

namespace {

// A live source's newest frames, kept from being overwritten for one calibration cycle.
struct HeldFrames {
    HeldFrames(DepthCameraProcessor& source_, SceneState& state) : source(source_) { source.holdFrames(state); }
    ~HeldFrames() { source.releaseFrames(); }
    HeldFrames(const HeldFrames&) = delete;
    HeldFrames& operator=(const HeldFrames&) = delete;
    DepthCameraProcessor& source;
};

} // namespace

// Registers the cameras on the calibration plate: live cameras on the records of the previous
// frame (and, when they capture apart and frames went by unseen, on every camera's next capture); recordings frame after frame in order, at least one and then more while this frame has
// spent less on them than the rest of the last frame step took (at least 25 ms), so that
// registration takes every recorded frame at its own speed, with half the render thread's time
// or more, and the view shows the last frame it took.
void Scene::runCalibrationCycle()
{
    constexpr auto kMinSteppingBudget = std::chrono::milliseconds(25);
    const auto budget = std::max<std::chrono::steady_clock::duration>(kMinSteppingBudget, frameWork);
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const CalibrationFrame frame =
            state.depthSource ? state.depthSource->nextCalibrationFrame() : CalibrationFrame::Newest;
        if (frame == CalibrationFrame::None)
            break;
        if (frame == CalibrationFrame::Next)
            state.depthSource->process(state);
        std::optional<HeldFrames> held;
        if (frame == CalibrationFrame::Newest && state.depthSource)
            held.emplace(*state.depthSource, state);
        calibrator.calibrateDepthCameras(state);
        if (frame == CalibrationFrame::Newest && state.depthSource) {
            held.reset();
            runOnNextLiveFramesIfSkipped();
        }
        if (frame == CalibrationFrame::Newest || std::chrono::steady_clock::now() - start >= budget)
            break;
    }
    calibrator.refreshJointEstimate(state);
    publishProgress();
}

// Live cameras that capture apart need each camera's consecutive frames around the reference
// capture. A view that renders below the cameras' rate skips frames between its cycles, so after
// such a cycle the cameras' next captures get a cycle of their own.
void Scene::runOnNextLiveFramesIfSkipped()
{
    constexpr double kSkipped = 1.5 / 30.0; // seconds: more than one frame period since the last cycle
    const std::optional<double> reference = state.cameras.empty() ? std::nullopt : state.cameras.front()->timestamp;
    const bool skipped = reference && (!lastLiveCycleCapture || *reference - *lastLiveCycleCapture > kSkipped);
    lastLiveCycleCapture = reference;
    if (!skipped || !state.depthSource->holdNextFrames(state))
        return;
    calibrator.calibrateDepthCameras(state);
    state.depthSource->releaseFrames();
    lastLiveCycleCapture = state.cameras.front()->timestamp;
}

void Scene::publishProgress()
{
    std::vector<std::string> lines;
    const std::vector<RegistrationProgress> progress = calibrator.progress();
    for (std::size_t i = 0; i < progress.size(); ++i)
        lines.push_back(progressLine(i, progress[i]));
    rightBar->setRegistrationProgress(lines);
}

// "Standalone, largest time gap 12.3 ms": the wiring of a live source and the spread of the
// current records' capture times; without capture times only the wiring, if any.
void Scene::publishFrameSetTiming()
{
    if (!rightBar)
        return;
    std::string mode = state.depthSource ? state.depthSource->syncMode() : std::string();
    if (!mode.empty())
        mode[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(mode[0])));
    std::ostringstream line;
    line << mode;
    const bool timed = state.cameras.size() > 1
        && std::all_of(state.cameras.begin(), state.cameras.end(), [](const auto& c) { return c->timestamp.has_value(); });
    if (timed) {
        constexpr double kMsPerSecond = 1000.0;
        const auto [earliest, latest] = std::minmax_element(
            state.cameras.begin(), state.cameras.end(), [](const auto& a, const auto& b) { return *a->timestamp < *b->timestamp; });
        line << (mode.empty() ? "Largest time gap " : ", largest time gap ") << std::fixed << std::setprecision(1)
             << (*(*latest)->timestamp - *(*earliest)->timestamp) * kMsPerSecond << " ms";
    }
    rightBar->setFrameSetTiming(line.str());
}

Vec4 Scene::cursorPoint() const
{
    return Vec4::point(rightBar->calibCursorX(), rightBar->calibCursorY(), rightBar->calibCursorZ());
}

void Scene::drawDataVisuals(QOpenGLFunctions_3_3_Core* gl)
{
    followTarget();
    context.view = orbitCamera.view();
    if (rightBar && rightBar->debug_showKinectPC())
        drawPointClouds(gl);
    if (rightBar && rightBar->debug_showHeightMap())
        drawHeightMap(gl);
    drawLightModules(gl);
    if (rightBar && rightBar->calibCursorMode())
        drawCursor(gl);
    drawTubes(gl);
    if (rightBar && rightBar->debug_showRays())
        drawDebugLines(gl);
    state.debugLines.clear();
}

void Scene::followTarget()
{
    if (rightBar && rightBar->calibCursorMode())
        orbitCamera.setTarget(cursorPoint());
    else if (!state.tubes.empty())
        orbitCamera.setTarget(state.tubes.front()->transform.translation());
}

void Scene::drawPointClouds(QOpenGLFunctions_3_3_Core* gl)
{
    for (const auto& camera : state.cameras) {
        depthCameraNode->setLocalMatrix(camera->modelMatrix);
        depthCameraNode->updateTransform(context, Mat4());
        depthCameraNode->setData(camera);
        depthCameraNode->draw(context, gl);
    }
}

void Scene::drawHeightMap(QOpenGLFunctions_3_3_Core* gl)
{
    heightMapNode->setData(state.heightMap);
    heightMapNode->draw(context, gl);
}

void Scene::drawLightModules(QOpenGLFunctions_3_3_Core* gl)
{
    lightModuleNode->setBrightnessTextEnabled(rightBar && rightBar->debug_renderModuleBrightnessText());
    for (const auto& light : state.lights) {
        if (!light)
            continue;
        lightModuleNode->setLocalMatrix(light->transform * light->aiming);
        lightModuleNode->setRecord(light);
        lightModuleNode->updateTransform(context, Mat4());
        lightModuleNode->draw(context, gl);
    }
}

void Scene::drawCursor(QOpenGLFunctions_3_3_Core* gl)
{
    const Vec4 p = cursorPoint();
    cursorNode->setLocalMatrix(tavorin::translate(Mat4(), p.x, p.y, p.z));
    cursorNode->updateTransform(context, Mat4());
    cursorNode->draw(context, gl);
}

void Scene::drawTubes(QOpenGLFunctions_3_3_Core* gl)
{
    for (const auto& tube : state.tubes) {
        drawLightTarget(*tube, gl);
        drawSamplePoints(*tube, gl);
    }
}

// The tubus takes the tube's size only after this draw: the size applies from the next frame.
void Scene::drawLightTarget(const TubeRecord& tube, QOpenGLFunctions_3_3_Core* gl)
{
    lightTargetNode->setLocalMatrix(tube.transform);
    lightTargetNode->updateTransform(context, Mat4());
    lightTargetNode->setLightTarget(state.lightTarget);
    lightTargetNode->setLights(state.lights);
    lightTargetNode->draw(context, gl);
    SensorTubus& tubus = *lightTargetNode->tubus();
    tubus.resetTransform();
    tubus.scale(tube.diameter, tube.depth, tube.diameter);
}

void Scene::drawSamplePoints(const TubeRecord& tube, QOpenGLFunctions_3_3_Core* gl)
{
    for (const auto& sample : tube.samplePoints) {
        const Mat4 matrix = tube.transform * sample->transform
            * tavorin::scale(Mat4(), kSamplePointSize, kSamplePointSize, kSamplePointSize);
        samplePointNode->setPointColor(1.0f, 0.0f, 0.0f);
        samplePointNode->setLocalMatrix(matrix);
        samplePointNode->updateTransform(context, Mat4());
        samplePointNode->draw(context, gl);
    }
}

void Scene::drawDebugLines(QOpenGLFunctions_3_3_Core* gl)
{
    for (const DebugLine& line : state.debugLines)
        lineDrawer().drawLine(gl, context.projection, context.view, Mat4(), line.color, line.start, line.end);
}

void Scene::pickPoint(int px, int py)
{
    std::optional<Vec4> picked;
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        const Mat4 viewProjection = context.projection * context.view;
        const float w = static_cast<float>(context.width);
        const float h = static_cast<float>(context.height);
        const float pointerX = static_cast<float>(px);
        const float pointerY = static_cast<float>(py);
        std::int32_t best = kNoPickYet;
        for (const auto& camera : state.cameras) {
            if (!camera->points)
                continue;
            const Mat4 mvp = viewProjection * camera->modelMatrix;
            const std::size_t count =
                static_cast<std::size_t>(std::max(camera->width, 0)) * static_cast<std::size_t>(std::max(camera->height, 0));
            for (std::size_t i = 0; i < count; ++i) {
                const float* p = camera->points + 4 * i;
                if (p[0] == 0.0f && p[1] == 0.0f && p[2] == 0.0f)
                    continue;
                const Vec4 q = mvp * Vec4::point(p[0], p[1], p[2]);
                const float nx = q.x / q.w;
                const float ny = q.y / q.w;
                const float nz = q.z / q.w;
                if (!(nx >= -1.0f && nx <= 1.0f && ny >= -1.0f && ny <= 1.0f && nz >= 0.0f && nz <= 1.0f))
                    continue;
                const float sx = (nx + 1.0f) * 0.5f * w;
                const float sy = (1.0f - ny) * 0.5f * h;
                const float dist = std::sqrt((sy - pointerY) * (sy - pointerY) + (sx - pointerX) * (sx - pointerX));
                if (dist < static_cast<float>(best)) {
                    picked = camera->modelMatrix * Vec4::point(p[0], p[1], p[2]);
                    best = static_cast<std::int32_t>(dist);
                }
            }
        }
        if (best >= kPickRange)
            picked.reset();
    }
    // The setters emit their change signals; outside the lock, so that no slot runs under it.
    if (picked && rightBar) {
        rightBar->setCalibCursorX(picked->x);
        rightBar->setCalibCursorY(picked->y);
        rightBar->setCalibCursorZ(picked->z);
    }
}

} // namespace tavorin
