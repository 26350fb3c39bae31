#include "ui/GLRectangleViewModel.h"

#include "app/Scene.h"

#include <QMetaMethod>

#include <cstdlib>

namespace tavorin {

namespace {
constexpr int kClickTolerance = 2; // pixels; a release nearer than this to the press is a click
} // namespace

GLRectangleViewModel::GLRectangleViewModel(QObject* parent) : QObject(parent) {}

void GLRectangleViewModel::attachScene(Scene* scene_)
{
    scene = scene_;
    if (!scene)
        return;
    // Render thread: the values travel by value to the GUI thread.
    scene->setActivityListener([this](int cameras, bool needsFrames) {
        QMetaObject::invokeMethod(
            this, [this, cameras, needsFrames] { setActivity(cameras, needsFrames); }, Qt::QueuedConnection);
    });
}

void GLRectangleViewModel::setActivity(int cameras, bool needsFrames)
{
    if (cameras != cameraCountValue) {
        cameraCountValue = cameras;
        emit cameraCountChanged(cameras);
    }
    if (needsFrames != animatingValue) {
        animatingValue = needsFrames;
        emit animatingChanged(needsFrames);
    }
}

void GLRectangleViewModel::onPressed(int x, int y, int button)
{
    if (scene)
        scene->camera().setPointer(x, y);
    pressX = x;
    pressY = y;
    pressButton = button;
}

void GLRectangleViewModel::onPositionChanged(int x, int y)
{
    if (!scene)
        return;
    if (pressButton == Qt::RightButton || pressButton == Qt::MiddleButton)
        scene->camera().pan(x, y);
    else
        scene->camera().drag(x, y);
    requestRedraw();
}

void GLRectangleViewModel::onReleased(int x, int y)
{
    if (!scene)
        return;
    scene->camera().setPointer(x, y);
    const bool click = std::abs(x - pressX) < kClickTolerance && std::abs(y - pressY) < kClickTolerance;
    if (click && pressButton == Qt::LeftButton)
        scene->pickPoint(x, y);
    requestRedraw();
}

void GLRectangleViewModel::onWheel(double delta)
{
    if (!scene)
        return;
    scene->camera().zoomNotches(static_cast<float>(delta) / OrbitCamera::kWheelNotch);
    requestRedraw();
}

void GLRectangleViewModel::frameAll()
{
    if (scene && scene->frameAll())
        requestRedraw();
}

void GLRectangleViewModel::resetView()
{
    if (!scene)
        return;
    scene->camera().reset();
    requestRedraw();
}

void GLRectangleViewModel::centreOnCursor()
{
    if (!scene)
        return;
    scene->centreOnCursor();
    requestRedraw();
}

void GLRectangleViewModel::redrawOnChangesOf(QObject* source)
{
    if (!source)
        return;
    const QMetaMethod redraw = staticMetaObject.method(staticMetaObject.indexOfSlot("requestRedraw()"));
    const QMetaObject* meta = source->metaObject();
    for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        if (method.methodType() == QMetaMethod::Signal)
            connect(source, method, this, redraw);
    }
}

void GLRectangleViewModel::requestRedraw()
{
    emit redrawRequested();
}

} // namespace tavorin
