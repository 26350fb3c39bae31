#include "scene/HeightMapVisualizer.h"

#include "base/Console.h"
#include "render/RenderContext.h"
#include "render/Shader.h"
#include "render/SharedGLObjects.h"
#include "scene/HeightMapRecord.h"

namespace tavorin {

namespace {

constexpr GLuint kHeightLocation = 0;

GLsizeiptr byteCount(std::int64_t samples)
{
    return static_cast<GLsizeiptr>(samples * static_cast<std::int64_t>(sizeof(float)));
}

} // namespace

void HeightMapVisualizer::upload(QOpenGLFunctions_3_3_Core* gl, std::int64_t samples)
{
    vertexArray.create(gl);
    gl->glBindVertexArray(vertexArray.name());
    vertexBuffer.create(gl);
    gl->glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer.name());
    gl->glBufferData(GL_ARRAY_BUFFER, byteCount(samples), data->heights, GL_DYNAMIC_DRAW);
    gl->glVertexAttribPointer(kHeightLocation, 1, GL_FLOAT, GL_FALSE, 0, nullptr);
    gl->glEnableVertexAttribArray(kHeightLocation);
    gl->glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl->glBindVertexArray(0);
    allocatedSamples = samples;
}

void HeightMapVisualizer::draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl)
{
    // A record without readable samples is as good as none: nothing to draw, nothing to read.
    if (!data || !data->hasSamples()) {
        console::outRepeating("No height map available.");
        return;
    }
    const std::int64_t samples = static_cast<std::int64_t>(data->width) * data->height;
    if (vertexArray && samples != allocatedSamples)
        release(gl);
    if (!vertexArray)
        upload(gl, samples);

    gl->glBindVertexArray(vertexArray.name());
    gl->glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer.name());
    gl->glBufferSubData(GL_ARRAY_BUFFER, 0, byteCount(samples), data->heights);
    gl->glBindBuffer(GL_ARRAY_BUFFER, 0);

    Shader& program = heightMapShader();
    program.use(gl);
    program.setTransforms(gl, data->transform, context.view, context.projection);
    program.setInt(gl, "imageWidth", data->width);
    program.setInt(gl, "imageHeight", data->height);
    program.setFloat(gl, "areaWidth", data->areaWidth);
    program.setFloat(gl, "areaHeight", data->areaHeight);

    gl->glBindVertexArray(vertexArray.name());
    gl->glEnable(GL_PROGRAM_POINT_SIZE);
    gl->glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(samples));
    gl->glBindVertexArray(0);
}

void HeightMapVisualizer::release(QOpenGLFunctions_3_3_Core* gl)
{
    vertexBuffer.release(gl);
    vertexArray.release(gl);
    allocatedSamples = 0;
}

} // namespace tavorin
