#pragma once

#include "math/Vec4.h"
#include "render/RenderContext.h"

#include <QImage>
#include <QPoint>

// A view for the light-planning tests: a default perspective camera (80 degrees, 0.02 .. 50 m)
// at eye looking at target with y up, for a viewport of width x height pixels.
tavorin::RenderContext lightPlanningView(int width, int height, const tavorin::Vec4& eye, const tavorin::Vec4& target);

// The pixel (from the top-left corner, as QImage counts) where a room point lands.
QPoint pixelOf(const tavorin::RenderContext& context, const tavorin::Vec4& roomPoint);

// Pixels within the rectangle [x0, x1) x [y0, y1) (top-left origin) whose three channels are all
// at least minimum: the white of the text overlay.
int whitePixels(const QImage& image, int x0, int y0, int x1, int y1, int minimum);
