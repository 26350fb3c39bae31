#include "GLTestContext.h"
#include "LightPlanningView.h"

#include "render/LineDrawer.h"
#include "render/SharedGLObjects.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QSurfaceFormat>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

using tavorin::lineDrawer, tavorin::releaseSharedGLObjects, tavorin::Vec4;

namespace {

constexpr int kMajorVersion = 3;
constexpr int kMinorVersion = 3;

// A connection to the X display, taken within about ten seconds, or null. An X server that resets
// when its last client leaves turns connections away while it resets (seen with the short GL test
// programs connecting one after another), and Qt aborts the whole program when its platform cannot
// start: ask first, again for a while, and hold this connection until Qt has its own, so that the
// server cannot reset in between.
xcb_connection_t* connectionToTheDisplay()
{
    constexpr int kTries = 50;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        const int error = xcb_connection_has_error(connection);
        if (error == 0)
            return connection;
        xcb_disconnect(connection);
        std::cerr << "The X display " << std::getenv("DISPLAY") << " refused a connection (xcb error " << error
                  << "), try " << attempt << " of " << kTries << '\n';
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return nullptr;
}

// One application object for the whole test program, made at the first GL test and destroyed
// before main returns (Qt must not outlive it into static destruction). It needs an X display:
// Qt's offscreen platform has no OpenGL here.
class ApplicationEnvironment : public ::testing::Environment {
public:
    // Null without a display or with one that takes no connection.
    QGuiApplication* application()
    {
        if (!app && std::getenv("DISPLAY")) {
            if (xcb_connection_t* held = connectionToTheDisplay()) {
                app = std::make_unique<QGuiApplication>(argc, argv);
                xcb_disconnect(held);
            }
        }
        return app.get();
    }
    void TearDown() override { app.reset(); }

private:
    int argc = 1;
    char name[17] = "tavorin_gl_tests";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QGuiApplication> app;
};

ApplicationEnvironment* const environment =
    static_cast<ApplicationEnvironment*>(::testing::AddGlobalTestEnvironment(new ApplicationEnvironment));

QGuiApplication* application()
{
    return environment->application();
}

} // namespace

GLTestContext::GLTestContext() = default;
GLTestContext::~GLTestContext() = default;

void GLTestContext::SetUp()
{
    if (!std::getenv("DISPLAY"))
        GTEST_SKIP() << "no X display for an OpenGL context";
    if (!application())
        GTEST_FAIL() << "the X display " << std::getenv("DISPLAY") << " takes no connection";

    QSurfaceFormat format;
    format.setVersion(kMajorVersion, kMinorVersion);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setDepthBufferSize(24);
    glContext = std::make_unique<QOpenGLContext>();
    glContext->setFormat(format);
    surface = std::make_unique<QOffscreenSurface>();
    surface->setFormat(format);
    surface->create();
    if (!glContext->create() || !surface->isValid() || !glContext->makeCurrent(surface.get()))
        GTEST_SKIP() << "no OpenGL context could be made";
    const QSurfaceFormat actual = glContext->format();
    if (actual.version() < qMakePair(kMajorVersion, kMinorVersion) || actual.profile() != QSurfaceFormat::CoreProfile)
        GTEST_SKIP() << "no OpenGL 3.3 core context";
    functions = std::make_unique<QOpenGLFunctions_3_3_Core>();
    if (!functions->initializeOpenGLFunctions())
        GTEST_SKIP() << "OpenGL 3.3 core functions unavailable";
    gl = functions.get();
    setUpGL();
}

void GLTestContext::TearDown()
{
    if (glContext && glContext->isValid())
        glContext->makeCurrent(surface.get());
    if (gl) {
        releaseGL();
        releaseSharedGLObjects(gl);
        lineDrawer().release(gl);
    }
    target.reset();
    functions.reset();
    if (glContext)
        glContext->doneCurrent();
    glContext.reset();
    surface.reset();
}

void GLTestContext::bindTarget(int width, int height)
{
    target = std::make_unique<QOpenGLFramebufferObject>(width, height, QOpenGLFramebufferObject::Depth);
    target->bind();
    gl->glViewport(0, 0, width, height);
    gl->glEnable(GL_DEPTH_TEST);
    gl->glEnable(GL_CULL_FACE);
    gl->glClearColor(0.5f, 0.5f, 0.5f, 1.0f);
    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

QImage GLTestContext::readBack() const
{
    return target->toImage(true);
}

void GLTestContext::viewFrom(int width, int height, const Vec4& eye, const Vec4& target)
{
    bindTarget(width, height);
    context = lightPlanningView(width, height, eye, target);
}
