#include "app/Scene.h"

#include "acquisition/config/StillViewReference.h"
#include "app/DepthSourceFactory.h"
#include "app/CameraViewOptions.h"
#include "app/SceneSettings.h"
#include "base/Console.h"
#include "calibration/quality/RegistrationProgress.h"
#include "calibration/registration/RoomRegistration.h"
#include "render/LineDrawer.h"
#include "render/ShadowMap.h"
#include "render/SharedGLObjects.h"
#include "scene/CameraIdentity.h"
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
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <optional>
#include <sstream>
#include <vector>

namespace tavorin {

namespace {

constexpr float kCursorLength = 0.05f;     // metres
constexpr float kCursorThickness = 0.0025f; // metres
// Around the cursor, an X of four arms in the view plane, the same size on screen at any distance
// (pixels), yellow on a black rim; its centre stays open so that the point itself shows.
constexpr float kReticleGap = 5.0f;
constexpr float kReticleReach = 17.0f;
constexpr float kReticleThickness = 2.0f;
constexpr float kReticleRim = 1.0f;
constexpr float kQuarterTurn = 1.5707964f; // radians
// The saved room points: cubes in the colours of their "Save Point" buttons, on a black rim.
constexpr float kRoomPointSize = 0.03f;     // metres
constexpr float kRoomPointMinPixels = 12.0f;
constexpr float kRoomPointRim = 1.5f;       // the black rim's size over the marker's
constexpr float kRoomPointColours[3][3] = {{0.667f, 0.133f, 0.133f}, {0.133f, 0.667f, 0.133f}, {0.133f, 0.133f, 0.667f}};
// Framing all clouds looks at about this many points of each record.
constexpr std::size_t kFramingSamplesPerCamera = 20000;
constexpr double kFramingTrim = 0.01; // the share of points left out at each end of every axis
// After a new depth source is set the view keeps drawing this long, so that its first frames show
// without waiting for input.
constexpr auto kSettleTime = std::chrono::seconds(2);
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
      cursorNode(std::make_shared<Cursor>(false, kCursorLength, kCursorThickness)),
      movedCameras([this](const std::vector<MovedCameraCheck>& checks) {
          if (rightBar)
              rightBar->setMovedCameraChecks(checks);
      })
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
    orbitCamera.setViewportSize(width, height);
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
    const DepthCameraProcessor* sourceBefore = state.depthSource.get();
    state.step();
    publishFrameSetTiming();
    const PlaybackStatus playback = state.depthSource ? state.depthSource->playbackStatus() : PlaybackStatus{};
    if (rightBar)
        rightBar->setPlaybackStatus(playback);
    publishQuality();
    movedCameras.collect(state.cameras, registering);
    if (registering && state.depthSource)
        state.depthSource->holdForCalibration(); // a source set by this step starts at its first frame
    drawDataVisuals(gl);
    frameWork = std::chrono::steady_clock::now() - workStart;
    publishActivity(registering, state.depthSource.get() != sourceBefore, playback);
}

// The view needs a frame after every frame while what it shows moves on its own: cameras stream
// or a recording plays, registration runs, a light module blinks its fault, a tube is planned, or
// the depth source has just been replaced (its first frames are on their way).
void Scene::publishActivity(bool registering, bool sourceReplaced, const PlaybackStatus& playback)
{
    const auto now = std::chrono::steady_clock::now();
    if (sourceReplaced)
        lastSceneChange = now;
    const bool standing = playback.available && (playback.paused || playback.ended);
    const bool streaming = !state.cameras.empty() && !standing;
    const bool blinking = std::any_of(state.lights.begin(), state.lights.end(), [](const auto& light) {
        return light && light->status != LightModuleRecord::kStatusOk;
    });
    const bool needsFrames =
        streaming || registering || blinking || !state.tubes.empty() || now - lastSceneChange < kSettleTime;
    const int cameras = static_cast<int>(state.cameras.size());
    if (cameras == reportedCameras && needsFrames == reportedNeedsFrames)
        return;
    reportedCameras = cameras;
    reportedNeedsFrames = needsFrames;
    if (activityListener)
        activityListener(cameras, needsFrames);
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
        lines.push_back(progressLine(i, progress[i], i < state.cameras.size() && state.cameras[i] ? state.cameras[i]->sourceName : std::string()));
    rightBar->setRegistrationProgress(lines);
}

void Scene::publishQuality()
{
    constexpr std::uint32_t kFramesBetween = 15;
    // A camera that comes or goes shows at once.
    if (!rightBar || (++framesSinceQuality < kFramesBetween && state.cameras.size() == qualityCameras))
        return;
    qualityCameras = state.cameras.size();
    framesSinceQuality = 0;
    const std::vector<RegistrationProgress> progress = calibrator.progress();
    const std::vector<PlateCoverage>& coverage = calibrator.coverage();
    std::vector<CameraQuality> rows;
    for (std::size_t i = 0; i < state.cameras.size(); ++i) {
        CameraQuality row;
        row.name = cameraShortName(state.cameras[i]->sourceName);
        row.configPath = state.cameras[i]->configPath;
        if (i < progress.size() && i < coverage.size() && progress.size() == state.cameras.size()) {
            const double share = coverage[i].coveredShare();
            const CalibrationVerdict verdict = calibrationVerdict(progress[i], share, calibrator.estimated());
            row.verdict = verdictName(verdict);
            row.line = qualityLine(progress[i], share);
            row.coverage = coverage[i].cells();
            row.reference = progress[i].reference;
            row.rmsMm = progress[i].rmsMm;
            row.sigmaMm = progress[i].sigmaMm;
            row.sigmaDeg = progress[i].sigmaDeg;
        }
        rows.push_back(std::move(row));
    }
    rightBar->setCalibrationQuality(rows);
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
    drawTubes(gl);
    if (rightBar && rightBar->debug_showRays())
        drawDebugLines(gl);
    state.debugLines.clear();
    // Last, over everything: the markers stay visible inside the clouds.
    drawSavedRoomPoints(gl);
    if (rightBar && rightBar->calibCursorMode())
        drawCursor(gl);
}

// Out of cursor mode the orbit follows tube 0 when it moves; in cursor mode the orbit is the
// operator's alone (pan, frame, C).
void Scene::followTarget()
{
    if ((rightBar && rightBar->calibCursorMode()) || state.tubes.empty() || !state.tubes.front())
        return;
    const Vec4 tube = state.tubes.front()->transform.translation();
    if (followedTube && *followedTube == tube)
        return;
    followedTube = tube;
    orbitCamera.setTarget(tube);
}

namespace {

// How many of the labels placed before lie where a label at `anchor` (pixels) would overlap them:
// cameras at one spot (not registered yet) stack their labels line by line.
int overlappingLabels(const std::vector<Vec4>& placed, const Vec4& anchor)
{
    constexpr float kLabelWidth = 160.0f; // pixels: an index and a 12-digit serial at 14 px
    return static_cast<int>(std::count_if(placed.begin(), placed.end(), [&](const Vec4& other) {
        return std::fabs(other.x - anchor.x) < kLabelWidth && std::fabs(other.y - anchor.y) < DepthCamera::kLabelFontSize;
    }));
}

} // namespace

// Every camera in its own colour with its label, its cloud as the view options say. While
// registering, the frames of a live source are held for the draw (those of a wired chain once they
// are one capture): each camera shows its newest frame, whole, so that the moving plate shows
// once per camera. Unheld, each capture thread's buffer is drawn as it stands, and the cameras'
// newest frames lay up to a few frame periods apart.
void Scene::drawPointClouds(QOpenGLFunctions_3_3_Core* gl)
{
    std::optional<HeldFrames> held;
    if (rightBar && rightBar->depthCameraRegistrationEnabled() && state.depthSource
        && state.depthSource->drawsHeldFrames())
        held.emplace(*state.depthSource, state);
    std::vector<std::string> names;
    std::vector<Vec4> labelAnchors;
    for (std::size_t i = 0; i < state.cameras.size(); ++i) {
        const std::shared_ptr<DepthCameraData>& camera = state.cameras[i];
        names.push_back(camera ? camera->sourceName : std::string());
        if (!camera)
            continue;
        depthCameraNode->setLocalMatrix(camera->modelMatrix);
        depthCameraNode->updateTransform(context, Mat4());
        DepthCamera::Appearance appearance = cameraAppearance(i, *camera, viewOptions);
        const Vec4 anchor = depthCameraNode->projectToScreen(context);
        appearance.labelLine = overlappingLabels(labelAnchors, anchor);
        labelAnchors.push_back(anchor);
        depthCameraNode->setAppearance(std::move(appearance));
        depthCameraNode->setData(camera);
        depthCameraNode->draw(context, gl);
    }
    if (viewOptions)
        viewOptions->setCameraNames(names);
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

float Scene::metresPerPixel(const Vec4& p) const
{
    const float depth = -(context.view * p).z; // metres in front of the eye
    const float focal = context.projection.at(1, 1); // cot(fov / 2)
    if (!(depth > 0.0f) || context.height <= 0 || !(focal > 0.0f))
        return 0.0f;
    return 2.0f * depth / (focal * static_cast<float>(context.height));
}

// Without the depth test, so that the cursor shows inside the clouds, and with the reticle that
// keeps it visible from afar.
void Scene::drawCursor(QOpenGLFunctions_3_3_Core* gl)
{
    const Vec4 p = cursorPoint();
    cursorNode->setLocalMatrix(tavorin::translate(Mat4(), p.x, p.y, p.z));
    cursorNode->updateTransform(context, Mat4());
    gl->glDisable(GL_DEPTH_TEST);
    cursorNode->draw(context, gl);
    drawReticle(p, gl);
    gl->glEnable(GL_DEPTH_TEST);
}

void Scene::drawReticle(const Vec4& p, QOpenGLFunctions_3_3_Core* gl)
{
    const float mpp = metresPerPixel(p);
    if (mpp <= 0.0f)
        return;
    const Vec4 q = context.view * p;
    const Mat4 T_room_view = inverse(context.view);
    const float middle = (kReticleGap + kReticleReach) / 2.0f * mpp; // from p to an arm's centre
    for (const float rim : {kReticleRim, 0.0f}) {
        if (rim > 0.0f)
            samplePointNode->setPointColor(0.0f, 0.0f, 0.0f);
        else
            samplePointNode->setPointColor(1.0f, 1.0f, 0.0f);
        const float length = (kReticleReach - kReticleGap + 2.0f * rim) * mpp;
        const float thickness = (kReticleThickness + 2.0f * rim) * mpp;
        for (int arm = 0; arm < 4; ++arm) {
            const float angle = kQuarterTurn / 2.0f + kQuarterTurn * static_cast<float>(arm);
            Mat4 m = tavorin::scale(Mat4(), length, thickness, thickness);
            m = tavorin::rotate(m, angle, AxisZ);
            m = tavorin::translate(m, q.x + std::cos(angle) * middle, q.y + std::sin(angle) * middle, q.z);
            samplePointNode->setLocalMatrix(T_room_view * m);
            samplePointNode->updateTransform(context, Mat4());
            samplePointNode->draw(context, gl);
        }
    }
}

void Scene::drawSavedRoomPoints(QOpenGLFunctions_3_3_Core* gl)
{
    const Mat4 T_drawn_cam0 = T_drawn_camera0(state.cameras);
    gl->glDisable(GL_DEPTH_TEST);
    for (std::size_t id = 0; id < savedRoomPoints_camera0.size(); ++id) {
        if (!savedRoomPoints_camera0[id])
            continue;
        const Vec4 p = T_drawn_cam0 * *savedRoomPoints_camera0[id];
        const float size = std::max(kRoomPointSize, kRoomPointMinPixels * metresPerPixel(p));
        const float* colour = kRoomPointColours[id];
        for (const float rim : {kRoomPointRim, 1.0f}) {
            const float edge = size * rim;
            if (rim > 1.0f)
                samplePointNode->setPointColor(0.0f, 0.0f, 0.0f);
            else
                samplePointNode->setPointColor(colour[0], colour[1], colour[2]);
            samplePointNode->setLocalMatrix(tavorin::translate(tavorin::scale(Mat4(), edge, edge, edge), p.x, p.y, p.z));
            samplePointNode->updateTransform(context, Mat4());
            samplePointNode->draw(context, gl);
        }
    }
    gl->glEnable(GL_DEPTH_TEST);
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

bool Scene::frameAll()
{
    std::array<std::vector<float>, 3> axes; // room coordinates of the sampled points, metres
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        for (const auto& camera : state.cameras) {
            if (!camera || !camera->points)
                continue;
            const std::size_t count =
                static_cast<std::size_t>(std::max(camera->width, 0)) * static_cast<std::size_t>(std::max(camera->height, 0));
            const std::size_t stride = std::max<std::size_t>(1, count / kFramingSamplesPerCamera);
            for (std::size_t i = 0; i < count; i += stride) {
                const float* p = camera->points + 4 * i;
                if ((p[0] == 0.0f && p[1] == 0.0f && p[2] == 0.0f) || !std::isfinite(p[0] + p[1] + p[2]))
                    continue;
                const Vec4 q = camera->modelMatrix * Vec4::point(p[0], p[1], p[2]);
                axes[0].push_back(q.x);
                axes[1].push_back(q.y);
                axes[2].push_back(q.z);
            }
        }
    }
    if (axes[0].empty())
        return false;
    const std::size_t last = axes[0].size() - 1;
    const auto lowIndex = static_cast<std::size_t>(kFramingTrim * static_cast<double>(last));
    const std::size_t highIndex = last - lowIndex;
    float lo[3];
    float hi[3];
    for (std::size_t a = 0; a < axes.size(); ++a) {
        std::vector<float>& values = axes[a];
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(lowIndex), values.end());
        lo[a] = values[lowIndex];
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(highIndex), values.end());
        hi[a] = values[highIndex];
    }
    orbitCamera.frame(Vec4::point(lo[0], lo[1], lo[2]), Vec4::point(hi[0], hi[1], hi[2]));
    return true;
}

bool Scene::fixMovedCamera(const std::string& configPath)
{
    std::lock_guard<std::mutex> lock(frameMutex);
    const auto found = std::find_if(state.cameras.begin(), state.cameras.end(),
                                    [&](const auto& camera) { return camera && camera->configPath == configPath; });
    if (found == state.cameras.end()) {
        console::err("Fix: the camera of ", configPath, " no longer streams; nothing changed.");
        return false;
    }
    DepthCameraData& camera = **found;
    const std::size_t index = static_cast<std::size_t>(found - state.cameras.begin());
    const std::optional<DriftEstimate> motion = movedCameras.takeFixableMotion(configPath, camera.depthCorrection);
    if (!motion) {
        console::err("Fix: camera ", index, " (", camera.sourceName, ") was not found moved against the reference ",
                     "of its matrix (or registration placed it anew since); nothing changed.");
        return false;
    }
    camera.modelMatrix = camera.modelMatrix * motion->T_reference_current;
    if (state.depthSource)
        state.depthSource->setModelMatrix(camera.sourceName, camera.modelMatrix);
    console::out("Camera ", index, " (", camera.sourceName, "): its matrix moved by ", motionText(*motion),
                 " as the camera moved (in memory; \"Save Registration to JSON-File\" stores it and a new reference ",
                 "of its still view)");
    return true;
}

void Scene::storeStillViewReferences(const std::vector<std::string>& matrixFiles)
{
    struct Stored {
        std::string configPath;
        DepthCorrection correction;
        std::size_t index;
        std::int32_t width;
        std::int32_t height;
    };
    std::vector<Stored> cameras;
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        for (std::size_t i = 0; i < state.cameras.size(); ++i) {
            const DepthCameraData* camera = state.cameras[i].get();
            if (camera && std::find(matrixFiles.begin(), matrixFiles.end(), camera->configPath) != matrixFiles.end())
                cameras.push_back({camera->configPath, camera->depthCorrection, i, camera->width, camera->height});
        }
    }
    for (const Stored& camera : cameras) {
        const std::string path = stillViewReferencePath(camera.configPath);
        const std::optional<CameraStillView> still = movedCameras.latestStillView(camera.configPath);
        std::string refusal;
        if (!still)
            refusal = "camera " + std::to_string(camera.index)
                + " has not been seen still yet (its check takes 45 frames a few seconds after it streams, while "
                  "registration is off)";
        else if (still->view.width != camera.width || still->view.height != camera.height)
            refusal = "camera " + std::to_string(camera.index) + "'s still view is not of its present image size";
        else if (movedCameras.movedUnfixed(camera.configPath))
            refusal = "camera " + std::to_string(camera.index)
                + " moved since its reference and its matrix was not fixed (press Fix, or register it anew)";
        if (!refusal.empty()) {
            console::err("Unable to write still view reference ", path, ": ", refusal, "; the previous one is kept.");
            continue;
        }
        if (storeStillView(camera.configPath, *still, camera.correction))
            movedCameras.referenceStored(camera.configPath);
    }
}

void Scene::centreOnCursor()
{
    if (rightBar)
        orbitCamera.setTarget(cursorPoint());
}

void Scene::setSavedRoomPoint(int id, const Vec4& point_camera0)
{
    if (id < 0 || id >= static_cast<int>(savedRoomPoints_camera0.size()))
        return;
    std::lock_guard<std::mutex> lock(frameMutex);
    savedRoomPoints_camera0[static_cast<std::size_t>(id)] = point_camera0;
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
