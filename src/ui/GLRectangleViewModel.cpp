#include "ui/GLRectangleViewModel.h"

GLRectangleViewModel::GLRectangleViewModel(QObject* parent) : QObject(parent) {}

void GLRectangleViewModel::onPressed(int x, int y)
{
    pressX = x;
    pressY = y;
}

void GLRectangleViewModel::onPositionChanged(int, int) {}

void GLRectangleViewModel::onReleased(int, int) {}

void GLRectangleViewModel::onWheel(double) {}
