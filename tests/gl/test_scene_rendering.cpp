// The scene's frame drawn into an offscreen target and read back: where the axis bars land,
// whether the shadow lights darken what they should, and that the frame leaves no GL error.
#include "GLTestContext.h"

#include "app/Scene.h"
#include "render/Shader.h"
#include "render/ShadowMap.h"
#include "scene/TubeRecord.h"
#include "ui/RightBarViewModel.h"

#include <QColor>

#include <array>
#include <cmath>
#include <string>

using tavorin::DebugLine, tavorin::Mat4, tavorin::RightBarViewModel, tavorin::Scene, tavorin::translate,
    tavorin::TubeRecord, tavorin::TubeSamplePoint, tavorin::Vec4;

namespace {

// Odd sizes put the view axis on a pixel centre: from the start position the bars are about half a
// pixel thick and cover only the pixel centres they straddle.
constexpr int kWidth = 641;
constexpr int kHeight = 401;
constexpr double kPi = 3.14159265358979;
constexpr double kFovDegrees = 80.0;

struct P3 {
    double x, y, z;
};
P3 operator-(P3 a, P3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
P3 operator+(P3 a, P3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
P3 operator*(P3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double dotP(P3 a, P3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
P3 crossP(P3 a, P3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
P3 unit(P3 a) { return a * (1.0 / std::sqrt(dotP(a, a))); }

// Pixel (from the top-left corner) of a room point seen by a pinhole eye looking at a target with
// y up and an 80-degree vertical field of view: a look-at of its own, not the scene's matrices.
QPoint expectedPixel(P3 eye, P3 target, P3 p)
{
    const P3 forward = unit(target - eye);
    const P3 right = unit(crossP(forward, {0, 1, 0}));
    const P3 up = crossP(right, forward);
    const P3 d = p - eye;
    const double depth = dotP(d, forward);
    const double focal = 1.0 / std::tan(kFovDegrees / 2.0 * kPi / 180.0);
    const double aspect = double(kWidth) / kHeight;
    const double ndcX = dotP(d, right) / depth * focal / aspect;
    const double ndcY = dotP(d, up) / depth * focal;
    return QPoint(int(std::floor((ndcX + 1.0) * 0.5 * kWidth)), int(std::floor((1.0 - ndcY) * 0.5 * kHeight)));
}

// The eye of the orbit camera for yaw, pitch and distance around a target.
P3 orbitEye(P3 target, double yaw, double pitch, double distance)
{
    const double horizontal = std::fabs(std::cos(pitch));
    const P3 d{std::sin(yaw) * horizontal, std::sin(pitch), -std::cos(yaw) * horizontal};
    return target + d * distance;
}

enum class Hue { Red, Green, Blue, Grey };

Hue hueAt(const QImage& image, QPoint p)
{
    const QColor c = image.pixelColor(p);
    const int r = c.red(), g = c.green(), b = c.blue();
    constexpr int kMargin = 30;
    if (r > g + kMargin && r > b + kMargin)
        return Hue::Red;
    if (g > r + kMargin && g > b + kMargin)
        return Hue::Green;
    if (b > r + kMargin && b > g + kMargin)
        return Hue::Blue;
    return Hue::Grey;
}

// The bars are about one pixel thick from the start position: look at the 3 x 3 block.
bool hueNear(const QImage& image, QPoint p, Hue hue)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (hueAt(image, p + QPoint(dx, dy)) == hue)
                return true;
    return false;
}

bool allGreyNear(const QImage& image, QPoint p)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (hueAt(image, p + QPoint(dx, dy)) != Hue::Grey)
                return false;
    return true;
}

// Mean red channel over a 3 x 3 block around a pixel.
double meanRed(const QImage& image, QPoint p)
{
    double sum = 0.0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            sum += image.pixelColor(p + QPoint(dx, dy)).red();
    return sum / 9.0;
}

// The three axis bars as boxes, metres.
struct Box {
    P3 lo, hi;
};
const std::array<Box, 3> kBars = {{{{0.0, -0.005, -0.005}, {0.2, 0.005, 0.005}},
                                  {{-0.005, 0.0, -0.005}, {0.005, 0.2, 0.005}},
                                  {{-0.005, -0.005, 0.0}, {0.005, 0.005, 0.2}}}};
const std::array<P3, 4> kLights = {{{2, 1.8, 2}, {2, 1.8, -2}, {-2, 1.8, -2}, {-2, 1.8, 2}}};

// Slab test of the open segment from p (a little off its surface) to the light.
bool segmentHitsBox(P3 from, P3 to, const Box& box)
{
    double t0 = 1e-6, t1 = 1.0;
    const double o[3] = {from.x, from.y, from.z};
    const double d[3] = {to.x - from.x, to.y - from.y, to.z - from.z};
    const double lo[3] = {box.lo.x, box.lo.y, box.lo.z};
    const double hi[3] = {box.hi.x, box.hi.y, box.hi.z};
    for (int a = 0; a < 3; ++a) {
        if (std::fabs(d[a]) < 1e-12) {
            if (o[a] < lo[a] || o[a] > hi[a])
                return false;
            continue;
        }
        double ta = (lo[a] - o[a]) / d[a], tb = (hi[a] - o[a]) / d[a];
        if (ta > tb)
            std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
        if (t0 > t1)
            return false;
    }
    return true;
}

int lightsReaching(P3 surfacePoint)
{
    int count = 0;
    for (const P3& light : kLights) {
        bool blocked = false;
        for (const Box& bar : kBars)
            blocked = blocked || segmentHitsBox(surfacePoint + P3{0, 1e-5, 0}, light, bar);
        count += blocked ? 0 : 1;
    }
    return count;
}

class SceneRendering : public GLTestContext {
protected:
    void setUpGL() override
    {
        scene.attachRightBar(&rightBar);
        bindTarget(kWidth, kHeight);
        scene.initialize(gl);
    }
    void releaseGL() override { scene.release(gl); }

    QImage renderFrame()
    {
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        scene.setViewportSize(kWidth, kHeight);
        scene.frame(gl);
        return readBack();
    }

    RightBarViewModel rightBar;
    Scene scene;
};

TEST_F(SceneRendering, TheOrbitStaysWhenTheCursorMovesAndCentresOnItOnlyOnRequest)
{
    while (gl->glGetError() != GL_NO_ERROR) {
    }
    // From the start the eye is at (-5, 0, 0), looking along +X at the room origin.
    const QImage first = renderFrame();
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    first.save("/tmp/tavorin_gl_first_frames.png");
    const P3 eye{-5, 0, 0}, origin{0, 0, 0};
    EXPECT_TRUE(hueNear(first, expectedPixel(eye, origin, {0, 0.15, 0}), Hue::Green));
    EXPECT_TRUE(hueNear(first, expectedPixel(eye, origin, {0, 0, 0.15}), Hue::Blue));
    EXPECT_TRUE(allGreyNear(first, expectedPixel(eye, origin, {0, 0.15, 0.1})));
    EXPECT_TRUE(allGreyNear(first, expectedPixel(eye, origin, {0, -0.1, 0})));

    // A picked point moves the cursor, not the orbit; centring on the cursor moves it there.
    rightBar.setCalibCursorX(0.3f);
    rightBar.setCalibCursorY(0.4f);
    const QImage picked = renderFrame();
    EXPECT_EQ(scene.camera().target(), Vec4::point(0, 0, 0));
    EXPECT_TRUE(hueNear(picked, expectedPixel(eye, origin, {0, 0.15, 0}), Hue::Green));
    scene.centreOnCursor();
    const QImage centred = renderFrame();
    const P3 cursor{0.3, 0.4, 0}, eye2{-4.7, 0.4, 0};
    EXPECT_TRUE(hueNear(centred, expectedPixel(eye2, cursor, {0, 0.1, 0}), Hue::Green));
    EXPECT_TRUE(allGreyNear(centred, expectedPixel(eye, origin, {0, 0.1, 0})));
}

TEST_F(SceneRendering, TurnedAndZoomedViewShowsAllThreeBarsWhereTheyProject)
{
    rightBar.setCalibCursorMode(false);
    const P3 target{0, 0, 0};
    scene.camera().setTarget(Vec4::point(0, 0, 0));
    // -45 degrees of yaw from the start and 0.3 rad of pitch (pointer pixels at 200 per radian).
    scene.camera().setPointer(0, 0);
    scene.camera().drag(157, 60);
    for (int i = 0; i < 7; ++i)
        scene.camera().zoom(0.8f);
    const double yaw = -kPi / 2 + 157.0 / 200.0, pitch = 60.0 / 200.0, distance = 5.0 * std::pow(0.8, 7);
    const P3 eye = orbitEye(target, yaw, pitch, distance);

    const QImage image = renderFrame();
    image.save("/tmp/tavorin_gl_turned.png");
    EXPECT_EQ(hueAt(image, expectedPixel(eye, target, {0.12, 0, 0})), Hue::Red);
    EXPECT_EQ(hueAt(image, expectedPixel(eye, target, {0, 0.12, 0})), Hue::Green);
    EXPECT_EQ(hueAt(image, expectedPixel(eye, target, {0, 0, 0.12})), Hue::Blue);
    EXPECT_TRUE(allGreyNear(image, expectedPixel(eye, target, {0.12, 0.05, -0.12})));
}

TEST_F(SceneRendering, YBarShadowDarkensTheTopOfTheXBarWhereALightIsBlocked)
{
    // Ground truth from ray casts against the bar boxes: near the Y bar the top of the X bar is
    // hidden from light 2 at (-2, 1.8, -2); further out all four lights reach it.
    const P3 shadowed{0.012, 0.005, 0.0035};
    const P3 open{0.06, 0.005, 0.0035};
    ASSERT_EQ(lightsReaching(shadowed), 3);
    ASSERT_EQ(lightsReaching(open), 4);

    rightBar.setCalibCursorMode(false);
    const P3 target{0.04, 0, 0};
    scene.camera().setTarget(Vec4::point(0.04f, 0, 0));
    scene.camera().setPointer(0, 0);
    scene.camera().drag(628, 240); // yaw +pi/2 from the start: the eye is on the +X side, above
    for (int i = 0; i < 17; ++i)
        scene.camera().zoom(0.8f);
    const P3 eye = orbitEye(target, -kPi / 2 + 628.0 / 200.0, 240.0 / 200.0, 5.0 * std::pow(0.8, 17));

    const QImage image = renderFrame();
    image.save("/tmp/tavorin_gl_shadow.png");
    const QPoint shadowedPixel = expectedPixel(eye, target, shadowed);
    const QPoint openPixel = expectedPixel(eye, target, open);
    ASSERT_EQ(hueAt(image, shadowedPixel), Hue::Red);
    ASSERT_EQ(hueAt(image, openPixel), Hue::Red);
    // One of four lights of 0.3 strength at about 57 degrees incidence: roughly 0.16 of full red.
    EXPECT_LT(meanRed(image, shadowedPixel), meanRed(image, openPixel) - 15.0);
}

TEST_F(SceneRendering, CleanupAndInitializeAgainDrawTheSameFrame)
{
    renderFrame(); // moves the target to the cursor
    const QImage before = renderFrame();
    scene.release(gl);
    EXPECT_FALSE(scene.shadowLight(0).isInitialized());
    scene.initialize(gl);
    const QImage after = renderFrame();
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(before, after);
}

TEST_F(SceneRendering, DebugLinesAreEmptiedEveryFrameAndTheCameraFollowsTube0WithoutCursorMode)
{
    for (const bool rays : {true, false}) {
        rightBar.setDebug_showRays(rays);
        scene.sceneState().debugLines.push_back(DebugLine{});
        renderFrame();
        EXPECT_TRUE(scene.sceneState().debugLines.empty());
    }

    rightBar.setCalibCursorMode(false);
    auto tube = std::make_shared<TubeRecord>();
    tube->transform = translate(Mat4(), 0.3f, 1.2f, -0.4f);
    auto sample = std::make_shared<TubeSamplePoint>();
    tube->samplePoints.push_back(sample);
    scene.sceneState().tubes.push_back(tube);
    renderFrame();
    const Vec4 target = scene.camera().target();
    EXPECT_FLOAT_EQ(target.x, 0.3f);
    EXPECT_FLOAT_EQ(target.y, 1.2f);
    EXPECT_FLOAT_EQ(target.z, -0.4f);
    // The sample point marker sits at the tube origin, red, in the middle of the view.
    const QImage image = renderFrame();
    EXPECT_EQ(hueAt(image, QPoint(kWidth / 2, kHeight / 2)), Hue::Red);
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(SceneRendering, ShadowPassRestoresTheViewportAndTheTarget)
{
    gl->glViewport(10, 20, 300, 200);
    scene.setViewportSize(300, 200);
    scene.frame(gl);
    GLint viewport[4] = {};
    gl->glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 10);
    EXPECT_EQ(viewport[1], 20);
    EXPECT_EQ(viewport[2], 300);
    EXPECT_EQ(viewport[3], 200);
    GLint framebuffer = 0;
    gl->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
    EXPECT_NE(framebuffer, 0) << "the offscreen target stays bound";
}

} // namespace
