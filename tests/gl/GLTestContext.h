#pragma once

#include "math/Vec4.h"
#include "render/RenderContext.h"

#include <QImage>
#include <QOpenGLFunctions_3_3_Core>

#include <gtest/gtest.h>

#include <memory>

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;

// Fixture for tests that need a current OpenGL 3.3 core context: an offscreen surface under the
// X display (Xvfb in the test command) and a single-sampled framebuffer object to draw into and
// read back. Skips the test only when no such context can be made. The working directory is the
// test's own (tests/common), which links the repository's shaders, so that "shaders/..." resolves
// as in the program.
//
// A fixture builds what its tests share in setUpGL() and releases it in releaseGL(), both with
// the context current. After releaseGL() the process-wide programs, the font texture and the line
// drawer are released too, so that every test's context builds its own.
class GLTestContext : public ::testing::Test {
protected:
    GLTestContext();
    ~GLTestContext() override;

    void SetUp() final;
    void TearDown() final;
    virtual void setUpGL() {}
    virtual void releaseGL() {}

    // Binds a width x height colour + depth target and sets the viewport, depth test and face
    // culling as the viewport renderer does before a frame.
    void bindTarget(int width, int height);
    // The bound target, top row first.
    QImage readBack() const;
    // bindTarget(width, height), and a context for drawing single nodes seen from eye toward
    // target: a default perspective camera (80 degrees, 0.02 .. 50 m) with y up.
    void viewFrom(int width, int height, const tavorin::Vec4& eye, const tavorin::Vec4& target);

    QOpenGLFunctions_3_3_Core* gl = nullptr;
    tavorin::RenderContext context; // set by viewFrom

private:
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<QOpenGLContext> glContext;
    std::unique_ptr<QOpenGLFramebufferObject> target;
    std::unique_ptr<QOpenGLFunctions_3_3_Core> functions;
};
