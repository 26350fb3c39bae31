#include "render/LineDrawer.h"

#include "render/Shader.h"
#include "render/SharedGLObjects.h"

namespace tavorin {

namespace {

constexpr GLuint kPositionLocation = 0;
// x = 0 stands for the start of the segment, x = 1 for its end; the program maps them.
constexpr float kSegmentVertices[6] = {0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f};
constexpr GLsizei kVertexCount = 2;

} // namespace

void LineDrawer::createVertexArray(QOpenGLFunctions_3_3_Core* gl)
{
    vertexArray.create(gl);
    gl->glBindVertexArray(vertexArray.name());
    vertexBuffer.create(gl);
    gl->glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer.name());
    gl->glBufferData(GL_ARRAY_BUFFER, sizeof(kSegmentVertices), kSegmentVertices, GL_STATIC_DRAW);
    gl->glVertexAttribPointer(kPositionLocation, 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    gl->glEnableVertexAttribArray(kPositionLocation);
    gl->glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl->glBindVertexArray(0);
}

void LineDrawer::drawLine(QOpenGLFunctions_3_3_Core* gl, const Mat4& projection, const Mat4& view,
                          const Mat4& model, const Vec4& color, const Vec4& start, const Vec4& end)
{
    if (!vertexArray)
        createVertexArray(gl);
    Shader& program = lineDrawerShader();
    program.use(gl);
    program.setTransforms(gl, model, view, projection);
    program.setVec4(gl, "color", color);
    program.setVec4(gl, "start", start);
    program.setVec4(gl, "end", end);
    gl->glBindVertexArray(vertexArray.name());
    gl->glDrawArrays(GL_LINES, 0, kVertexCount);
    gl->glBindVertexArray(0);
}

void LineDrawer::release(QOpenGLFunctions_3_3_Core* gl)
{
    vertexArray.release(gl);
    vertexBuffer.release(gl);
}

LineDrawer& lineDrawer()
{
    static LineDrawer drawer;
    return drawer;
}

} // namespace tavorin
