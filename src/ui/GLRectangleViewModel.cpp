#include "ui/GLRectangleViewModel.h"

#include "app/Scene.h"

#include <cstdlib>

namespace tavorin {

namespace {
constexpr float kZoomIn = 0.8f;  // wheel turned away from the user
constexpr float kZoomOut = 1.2f; // any other wheel delta
constexpr int kClickTolerance = 2; // pixels; a release nearer than this to the press is a click
} // namespace

GLRectangleViewModel::GLRectangleViewModel(QObject* parent) : QObject(parent) {}

void GLRectangleViewModel::onPressed(int x, int y)
{
    if (scene)
        scene->camera().setPointer(x, y);
    pressX = x;
    pressY = y;
}

void GLRectangleViewModel::onPositionChanged(int x, int y)
{
    if (scene)
        scene->camera().drag(x, y);
}

void GLRectangleViewModel::onReleased(int x, int y)
{
    if (!scene)
        return;
    scene->camera().setPointer(x, y);
    if (std::abs(x - pressX) < kClickTolerance && std::abs(y - pressY) < kClickTolerance)
        scene->pickPoint(x, y);
}

void GLRectangleViewModel::onWheel(double delta)
{
    if (scene)
        scene->camera().zoom(delta > 0.0 ? kZoomIn : kZoomOut);
}

} // namespace tavorin
