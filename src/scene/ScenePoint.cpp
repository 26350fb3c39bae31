#include "scene/ScenePoint.h"

#include "render/RenderContext.h"
#include "render/Shader.h"

namespace tavorin {

ScenePoint::ScenePoint()
{
    setName("ScenePoint");
}

void ScenePoint::setPointColor(float r, float g, float b)
{
    red = r;
    green = g;
    blue = b;
}

void ScenePoint::initialize(QOpenGLFunctions_3_3_Core* gl)
{
    if (isInitialized())
        return;
    setOwnShader(std::make_unique<Shader>("shaders/color.vert", "shaders/color.frag"));
    Mesh::initialize(gl);
}

void ScenePoint::draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl)
{
    if (!isInitialized())
        initialize(gl);
    Shader& program = *currentShader();
    program.use(gl);
    program.setMat4(gl, "mvp", context.projection * context.view * worldMatrix());
    program.setVec4(gl, "color", Vec4(red, green, blue, 1.0f));
    setExtraUniforms(gl, program, context);
    drawArrays(gl);
    gl->glBindVertexArray(0);
}

} // namespace tavorin
