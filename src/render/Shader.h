#pragma once

#include "math/Mat4.h"
#include "math/Vec4.h"
#include "render/GLHandle.h"

#include <QOpenGLFunctions_3_3_Core>

#include <string>

namespace tavorin {

// A GLSL program built from a vertex and a fragment file (paths relative to the working
// directory). Compiled at its first use, once per GL context: release() deletes the program and
// lets the next use build it again, in whatever context is then current. Render thread only.
class Shader {
public:
    Shader(std::string vertexPath, std::string fragmentPath);

    void use(QOpenGLFunctions_3_3_Core* gl);
    // Reads and builds the program; true when it linked. Driver reports go to the console with
    // the whole info log, and a broken program is kept: it is not built again until release(), and
    // a later call answers whether the kept program linked.
    bool compile(QOpenGLFunctions_3_3_Core* gl);
    void release(QOpenGLFunctions_3_3_Core* gl);

    // Act on the current program; a name the program does not declare is ignored.
    void setInt(QOpenGLFunctions_3_3_Core* gl, const std::string& name, int value) const;
    void setFloat(QOpenGLFunctions_3_3_Core* gl, const std::string& name, float value) const;
    void setBool(QOpenGLFunctions_3_3_Core* gl, const std::string& name, bool value) const;
    void setVec4(QOpenGLFunctions_3_3_Core* gl, const std::string& name, const Vec4& value) const;
    void setMat4(QOpenGLFunctions_3_3_Core* gl, const std::string& name, const Mat4& value) const;
    // The "model", "view" and "projection" uniforms: object -> room, room -> eye, eye -> clip.
    void setTransforms(QOpenGLFunctions_3_3_Core* gl, const Mat4& model, const Mat4& view,
                       const Mat4& projection) const;

    GLuint programName() const { return program.name(); }
    bool isCompiled() const { return static_cast<bool>(program); }
    const std::string& vertexFile() const { return vertexPath; }
    const std::string& fragmentFile() const { return fragmentPath; }

private:
    GLint location(QOpenGLFunctions_3_3_Core* gl, const std::string& name) const;
    bool linked(QOpenGLFunctions_3_3_Core* gl) const;

    GLProgram program;
    std::string vertexPath;
    std::string fragmentPath;
};

} // namespace tavorin
