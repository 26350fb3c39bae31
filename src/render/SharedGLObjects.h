#pragma once

class QOpenGLFunctions_3_3_Core;

namespace tavorin {

class RGBTexture;
class Shader;

// The process-wide programs and the font texture. They exist from static initialisation on and
// hold only their file paths until first use on the render thread.
Shader& defaultShader();     // every mesh without a program of its own
Shader& wireframeShader();   // the wireframe pass of meshes
Shader& pointCloudShader();  // depth camera point clouds
Shader& heightMapShader();   // the height map view
Shader& shadowMapShader();   // the shadow pass
Shader& lineDrawerShader();  // debug lines
Shader& textRendererShader(); // text labels
RGBTexture& fontTexture();

// Deletes their GL objects in the current context, so that a later context builds them again.
// Render thread, with the old context still current.
void releaseSharedGLObjects(QOpenGLFunctions_3_3_Core* gl);

} // namespace tavorin
