#pragma once

#include "render/GLHandle.h"

#include <QOpenGLFunctions_3_3_Core>

#include <vector>

namespace tavorin {

// Fills `buffer` (created, bound to GL_ARRAY_BUFFER afterwards) with `values` and points the
// vertex attribute at `location` of the bound vertex array at it: `components` floats per vertex,
// tightly packed. Render thread only.
void uploadFloatAttribute(QOpenGLFunctions_3_3_Core* gl, const GLBuffer& buffer, GLuint location, GLint components,
                          const std::vector<float>& values);

} // namespace tavorin
