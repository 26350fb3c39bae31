#pragma once

#include <QRunnable>

namespace tavorin {

class GLRectangleRenderer;

// Scheduled by GLRectangle::releaseResources(); runs once on the render thread, deletes the
// global state and then the renderer it was handed (which may be null). Qt deletes the job.
class CleanupJob : public QRunnable {
public:
    explicit CleanupJob(GLRectangleRenderer* renderer) : renderer(renderer) {}
    void run() override;

private:
    GLRectangleRenderer* renderer;
};

} // namespace tavorin
