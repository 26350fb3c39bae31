#pragma once

#include <QObject>
#include <QOpenGLFunctions_3_3_Core>
#include <QPoint>
#include <QSize>

class QQuickWindow;

namespace tavorin {

class Scene;

// Draws the scene into the window's framebuffer before Qt Quick records its own render pass.
// Render thread only: created in GLRectangle::sync() with the window's context current.
class GLRectangleRenderer : public QObject, protected QOpenGLFunctions_3_3_Core {
    Q_OBJECT
public:
    static constexpr float kClearGrey = 0.5f;

    explicit GLRectangleRenderer(Scene* scene); // scene may be null: then it only clears

    QOpenGLFunctions_3_3_Core* functions() { return this; }
    // Releases the scene's GPU resources; called before the renderer is deleted on context loss.
    void releaseScene();

    QSize viewportSize{-1, -1}; // logical pixels
    QSize windowSize{-1, -1};   // device pixels
    QPoint viewportPosition{0, 0};
    QQuickWindow* window = nullptr;

public slots:
    void paint();

private:
    Scene* scene; // non-owning; owned by the global state
};

} // namespace tavorin
