#include "render/VertexAttribute.h"

namespace tavorin {

void uploadFloatAttribute(QOpenGLFunctions_3_3_Core* gl, const GLBuffer& buffer, GLuint location, GLint components,
                          const std::vector<float>& values)
{
    gl->glBindBuffer(GL_ARRAY_BUFFER, buffer.name());
    gl->glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(values.size() * sizeof(float)), values.data(),
                     GL_STATIC_DRAW);
    gl->glVertexAttribPointer(location, components, GL_FLOAT, GL_FALSE, 0, nullptr);
    gl->glEnableVertexAttribArray(location);
}

} // namespace tavorin
