#include "render/SharedGLObjects.h"

#include "render/RGBTexture.h"
#include "render/Shader.h"

namespace tavorin {

namespace {

Shader defaultProgram("shaders/default.vert", "shaders/default.frag");
Shader wireframeProgram("shaders/wireframe.vert", "shaders/wireframe.frag");
Shader pointCloudProgram("shaders/pointcloud.vert", "shaders/pointcloud.frag");
Shader heightMapProgram("shaders/heightmap.vert", "shaders/heightmap.frag");
Shader shadowMapProgram("shaders/shadowmap.vert", "shaders/shadowmap.frag");
Shader lineDrawerProgram("shaders/linedrawer.vert", "shaders/linedrawer.frag");
Shader textRendererProgram("shaders/textrenderer.vert", "shaders/textrenderer.frag");
RGBTexture font("models/textures/font.png", GL_LINEAR);

} // namespace

Shader& defaultShader() { return defaultProgram; }
Shader& wireframeShader() { return wireframeProgram; }
Shader& pointCloudShader() { return pointCloudProgram; }
Shader& heightMapShader() { return heightMapProgram; }
Shader& shadowMapShader() { return shadowMapProgram; }
Shader& lineDrawerShader() { return lineDrawerProgram; }
Shader& textRendererShader() { return textRendererProgram; }
RGBTexture& fontTexture() { return font; }

void releaseSharedGLObjects(QOpenGLFunctions_3_3_Core* gl)
{
    for (Shader* program : {&defaultProgram, &wireframeProgram, &pointCloudProgram, &heightMapProgram,
                            &shadowMapProgram, &lineDrawerProgram, &textRendererProgram})
        program->release(gl);
    font.release(gl);
}

} // namespace tavorin
