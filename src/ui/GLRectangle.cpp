#include "ui/GLRectangle.h"

#include "ui/CleanupJob.h"
#include "ui/GLRectangleRenderer.h"
#include "ui/GlobalStateHandler.h"

#include <QQuickWindow>

#include <cmath>

namespace tavorin {

GLRectangle::GLRectangle()
{
    connect(this, &QQuickItem::windowChanged, this, &GLRectangle::handleWindowChanged);
}

void GLRectangle::setTime(double t)
{
    if (t == timeValue) // a NaN never equals, so it always counts as a change
        return;
    timeValue = t;
    emit timeChanged();
    if (window())
        window()->update();
}

void GLRectangle::redraw()
{
    if (window())
        window()->update();
}

void GLRectangle::handleWindowChanged(QQuickWindow* win)
{
    if (!win)
        return;
    connect(win, &QQuickWindow::beforeSynchronizing, this, &GLRectangle::sync, Qt::DirectConnection);
    connect(win, &QQuickWindow::sceneGraphInvalidated, this, &GLRectangle::cleanup, Qt::DirectConnection);
    win->setColor(Qt::black);
}

void GLRectangle::sync()
{
    GLRectangleRenderer* current = renderer.load();
    if (!current) {
        GlobalStateHandler* state = globalStateHandler.load();
        current = new GLRectangleRenderer(state ? &state->scene : nullptr);
        renderer.store(current);
        connect(window(), &QQuickWindow::beforeRenderPassRecording, current, &GLRectangleRenderer::paint,
                Qt::DirectConnection);
    }
    current->windowSize = window()->size() * window()->devicePixelRatio();
    current->viewportSize = QSize(static_cast<int>(width() - kSettingsBarWidth), static_cast<int>(height()));
    current->viewportPosition = position().toPoint();
    current->window = window();
}

void GLRectangle::cleanup()
{
    GLRectangleRenderer* current = renderer.exchange(nullptr);
    if (!current)
        return;
    current->releaseScene();
    delete current;
}

void GLRectangle::releaseResources()
{
    window()->scheduleRenderJob(new CleanupJob(renderer.exchange(nullptr)),
                                QQuickWindow::BeforeSynchronizingStage);
}

} // namespace tavorin
