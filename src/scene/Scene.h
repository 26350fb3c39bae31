#pragma once

#include "app/SceneState.h"

#include <mutex>

class QOpenGLFunctions_3_3_Core;
class RightBarViewModel;

// Root of everything the viewport shows. Render thread: initialize, setViewportSize, frame,
// cleanup. GUI-thread operations that read the camera records or set matrices hold frameLock().
class Scene {
public:
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    void attachRightBar(RightBarViewModel* rightBar) { this->rightBar = rightBar; }

    void initialize(QOpenGLFunctions_3_3_Core* gl);
    void setViewportSize(int width, int height);
    void frame(QOpenGLFunctions_3_3_Core* gl);
    void cleanup(QOpenGLFunctions_3_3_Core* gl);

    SceneState& sceneState() { return state; }
    // Held by the render thread for the whole frame step; GUI-thread readers of the camera
    // records take it too, so that they never see the list half refilled.
    std::mutex& frameLock() { return frameMutex; }

    int viewportWidth() const { return width; }
    int viewportHeight() const { return height; }

private:
    SceneState state;
    RightBarViewModel* rightBar = nullptr; // non-owning; owned by the global state
    std::mutex frameMutex;
    int width = 0;
    int height = 0;
};
