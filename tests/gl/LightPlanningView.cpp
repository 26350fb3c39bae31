#include "LightPlanningView.h"

#include "math/Mat4.h"
#include "render/ViewCamera.h"

#include <QColor>

#include <algorithm>
#include <cmath>

using tavorin::lookAtModel, tavorin::RenderContext, tavorin::Vec4, tavorin::ViewCamera;

RenderContext lightPlanningView(int width, int height, const Vec4& eye, const Vec4& target)
{
    ViewCamera camera;
    camera.pose = lookAtModel(eye, target, Vec4::direction(0.0f, 1.0f, 0.0f));
    RenderContext context;
    context.width = width;
    context.height = height;
    context.projection = camera.projection(width, height);
    context.view = camera.view();
    return context;
}

QPoint pixelOf(const RenderContext& context, const Vec4& roomPoint)
{
    const Vec4 clip = context.projection * context.view * roomPoint;
    const double x = (clip.x / clip.w + 1.0) * 0.5 * context.width;
    const double y = (1.0 - clip.y / clip.w) * 0.5 * context.height;
    return QPoint(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)));
}

int whitePixels(const QImage& image, int x0, int y0, int x1, int y1, int minimum)
{
    int count = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, image.height()); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, image.width()); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() >= minimum && c.green() >= minimum && c.blue() >= minimum)
                ++count;
        }
    return count;
}
