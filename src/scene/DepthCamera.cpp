#include "scene/DepthCamera.h"

#include "base/Console.h"
#include "render/RenderContext.h"
#include "render/Shader.h"
#include "render/SharedGLObjects.h"
#include "render/TextRenderer.h"
#include "scene/Cube.h"
#include "scene/Cylinder.h"
#include "scene/DepthCameraData.h"

#include <QOpenGLFunctions_3_3_Core>

#include <cmath>

namespace tavorin {

namespace {

constexpr float kQuarterTurn = 1.5708f;
constexpr int kLensSegments = 128;
constexpr GLsizeiptr kPointBytes = 4 * sizeof(float);
constexpr GLsizeiptr kColorBytes = 4;
constexpr Vec4 kDarkBody(0.01f, 0.01f, 0.01f, 1.0f);
constexpr float kLabelRise = 10.0f; // pixels above the camera's origin

// A point behind the eye or beyond the far plane has a depth outside -1..1 and no pixel to write
// at; far off-screen positions would not fit the integer anchor.
bool labelPlaceable(const Vec4& screen)
{
    constexpr float kMaxPixels = 1.0e6f;
    return screen.z >= -1.0f && screen.z <= 1.0f && std::fabs(screen.x) < kMaxPixels && std::fabs(screen.y) < kMaxPixels;
}

std::shared_ptr<Cylinder> makeLens(float radius, float x, float z)
{
    auto lens = std::make_shared<Cylinder>(kLensSegments, true, true, false);
    lens->scale(radius, radius, radius);
    lens->rotate(-kQuarterTurn, 0);
    lens->translate(x, 0.0f, z);
    lens->setColor(0.1f, 0.1f, 0.1f, 1.0f);
    return lens;
}

} // namespace

DepthCamera::DepthCamera() : body(std::make_shared<Cube>())
{
    setName("DepthCamera");
    body->translate(0.0f, 0.0f, -0.5f);
    body->scale(0.249f, 0.066f, 0.067f);
    body->translate(0.06f, 0.0f, 0.0f);
    body->setColor(kDarkBody.x, kDarkBody.y, kDarkBody.z, kDarkBody.w);
    addChild(body);
    addChild(makeLens(0.03f, -0.03f, -0.028f));
    addChild(makeLens(0.02f, 0.0f, -0.019f));
}

DepthCamera::~DepthCamera() = default;

void DepthCamera::updateTransform(const RenderContext& context, const Mat4& parentWorld)
{
    Composite3D::updateTransform(context, parentWorld);
}

void DepthCamera::setAppearance(Appearance value)
{
    look = std::move(value);
    const Vec4 color = bodyColor();
    body->setColor(color.x, color.y, color.z, color.w);
}

Vec4 DepthCamera::bodyColor() const
{
    return look.cloudShown ? look.color : kDarkBody;
}

void DepthCamera::draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl)
{
    Composite3D::draw(context, gl);
    if (look.cloudShown)
        drawPointCloud(context, gl);
    drawLabel(context, gl);
}

void DepthCamera::drawLabel(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl) const
{
    const Vec4 p = projectToScreen(context);
    if (look.label.empty() || !labelPlaceable(p))
        return;
    const float y = p.y + kLabelRise - static_cast<float>(look.labelLine) * kLabelFontSize;
    drawText(gl, context, look.label, static_cast<int>(p.x), static_cast<int>(y), kLabelFontSize);
}

void DepthCamera::release(QOpenGLFunctions_3_3_Core* gl)
{
    Composite3D::release(gl);
    releaseCloudBuffers(gl);
}

void DepthCamera::upload(QOpenGLFunctions_3_3_Core* gl)
{
    if (!data || data->width == 0 || data->height == 0)
        return;
    const GLsizeiptr count = static_cast<GLsizeiptr>(data->width) * data->height;

    buffers.vertexArray.create(gl);
    gl->glBindVertexArray(buffers.vertexArray.name());
    buffers.points.create(gl);
    gl->glBindBuffer(GL_ARRAY_BUFFER, buffers.points.name());
    gl->glBufferData(GL_ARRAY_BUFFER, count * kPointBytes, data->points, GL_DYNAMIC_DRAW);
    gl->glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, static_cast<GLsizei>(kPointBytes), nullptr);
    gl->glEnableVertexAttribArray(0);
    buffers.colors.create(gl);
    gl->glBindBuffer(GL_ARRAY_BUFFER, buffers.colors.name());
    gl->glBufferData(GL_ARRAY_BUFFER, count * kColorBytes, data->colors, GL_DYNAMIC_DRAW);
    gl->glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_FALSE, static_cast<GLsizei>(kColorBytes), nullptr);
    gl->glEnableVertexAttribArray(1);
    gl->glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl->glBindVertexArray(0);
    buffers.pointCount = data->width * data->height;
}

void DepthCamera::releaseCloudBuffers(QOpenGLFunctions_3_3_Core* gl)
{
    if (!buffers.uploaded())
        return;
    gl->glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl->glBindVertexArray(0);
    buffers.points.release(gl);
    buffers.colors.release(gl);
    buffers.vertexArray.release(gl);
    buffers.pointCount = 0;
}

void DepthCamera::drawPointCloud(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl)
{
    if (!data || !data->hasPointCloud) {
        console::outRepeating("No point cloud available.");
        return;
    }
    const std::int32_t count = data->width * data->height;
    if (buffers.uploaded() && count != buffers.pointCount)
        releaseCloudBuffers(gl);
    if (!buffers.uploaded())
        upload(gl);
    if (!buffers.uploaded())
        return;

    // Refill the buffers allocated for this resolution; several cameras of one size share them.
    gl->glBindVertexArray(buffers.vertexArray.name());
    gl->glBindBuffer(GL_ARRAY_BUFFER, buffers.points.name());
    gl->glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(count) * kPointBytes, data->points);
    if (data->colors) { // without colour the shader ignores the buffer
        gl->glBindBuffer(GL_ARRAY_BUFFER, buffers.colors.name());
        gl->glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(count) * kColorBytes, data->colors);
    }
    gl->glBindBuffer(GL_ARRAY_BUFFER, 0);

    Shader& program = pointCloudShader();
    program.use(gl);
    program.setTransforms(gl, worldMatrix(), context.view, context.projection);
    program.setFloat(gl, "viewportHeight", static_cast<float>(context.height));
    program.setInt(gl, "hasColor", data->colors ? 1 : 0);
    program.setInt(gl, "colorByCamera", look.colorByCamera ? 1 : 0);
    program.setVec4(gl, "cameraColor", look.color);

    gl->glEnable(GL_PROGRAM_POINT_SIZE);
    gl->glDrawArrays(GL_POINTS, 0, count);
    gl->glBindVertexArray(0);
}

} // namespace tavorin
