#pragma once

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
// repository root, so that "shaders/..." resolves as in the program.
class GLTestContext : public ::testing::Test {
protected:
    GLTestContext();
    ~GLTestContext() override;

    void SetUp() override;
    void TearDown() override;

    // Binds a width x height colour + depth target and sets the viewport, depth test and face
    // culling as the viewport renderer does before a frame.
    void bindTarget(int width, int height);
    // The bound target, top row first.
    QImage readBack() const;

    QOpenGLFunctions_3_3_Core* gl = nullptr;

private:
    std::unique_ptr<QOffscreenSurface> surface;
    std::unique_ptr<QOpenGLContext> context;
    std::unique_ptr<QOpenGLFramebufferObject> target;
    std::unique_ptr<QOpenGLFunctions_3_3_Core> functions;
};
