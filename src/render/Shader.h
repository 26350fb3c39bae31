#pragma once

#include "math/Mat4.h"
#include "math/Vec4.h"

#include <QOpenGLFunctions_3_3_Core>

#include <string>

// A GLSL program built from a vertex and a fragment file (paths relative to the working
// directory). Compiled at its first use, once per GL context: destroy() deletes the program and
// lets the next use build it again, in whatever context is then current. Render thread only.
class Shader {
public:
    Shader(std::string vertexPath, std::string fragmentPath);

    void use(QOpenGLFunctions_3_3_Core* gl);
    // Reads and builds the program; driver reports go to the console and the (possibly broken)
    // program is kept, never compiled again until destroy().
    void compile(QOpenGLFunctions_3_3_Core* gl);
    void destroy(QOpenGLFunctions_3_3_Core* gl);

    // Act on the current program; a name the program does not declare is ignored.
    void setInt(QOpenGLFunctions_3_3_Core* gl, const std::string& name, int value) const;
    void setFloat(QOpenGLFunctions_3_3_Core* gl, const std::string& name, float value) const;
    void setBool(QOpenGLFunctions_3_3_Core* gl, const std::string& name, bool value) const;
    void setVec4(QOpenGLFunctions_3_3_Core* gl, const std::string& name, const Vec4& value) const;
    void setMat4(QOpenGLFunctions_3_3_Core* gl, const std::string& name, const Mat4& value) const;

    GLuint programName() const { return program; }
    bool isCompiled() const { return compiled; }
    const std::string& vertexFile() const { return vertexPath; }
    const std::string& fragmentFile() const { return fragmentPath; }

private:
    GLint location(QOpenGLFunctions_3_3_Core* gl, const std::string& name) const;

    GLuint program = 0;
    std::string vertexPath;
    std::string fragmentPath;
    bool compiled = false;
};
