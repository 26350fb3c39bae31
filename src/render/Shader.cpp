#include "render/Shader.h"

#include "base/Console.h"

#include <fstream>
#include <sstream>

namespace tavorin {

namespace {

std::string readWhole(std::ifstream& file, const std::string& path)
{
    file.open(path);
    std::stringstream text;
    text << file.rdbuf();
    file.close();
    return text.str();
}

// Both files or neither: a failure on either stage leaves both sources empty.
void readSources(const std::string& vertexPath, const std::string& fragmentPath, std::string& vertex,
                 std::string& fragment)
{
    std::ifstream vertexFile;
    std::ifstream fragmentFile;
    vertexFile.exceptions(std::ifstream::failbit | std::ifstream::badbit);
    fragmentFile.exceptions(std::ifstream::failbit | std::ifstream::badbit);
    try {
        const std::string vertexText = readWhole(vertexFile, vertexPath);
        const std::string fragmentText = readWhole(fragmentFile, fragmentPath);
        vertex = vertexText;
        fragment = fragmentText;
    } catch (const std::ios_base::failure&) {
        console::err("ERROR::SHADER::FILE_NOT_SUCCESFULLY_READ");
        vertex.clear();
        fragment.clear();
    }
}

using GetParameter = void (QOpenGLFunctions_3_3_Core::*)(GLuint, GLenum, GLint*);
using GetInfoLog = void (QOpenGLFunctions_3_3_Core::*)(GLuint, GLsizei, GLsizei*, GLchar*);

// What the driver wrote about a stage or a program, whole.
std::string infoLog(QOpenGLFunctions_3_3_Core* gl, GLuint object, GetParameter getParameter, GetInfoLog getInfoLog)
{
    GLint length = 0;
    (gl->*getParameter)(object, GL_INFO_LOG_LENGTH, &length);
    if (length <= 0)
        return std::string();
    std::string log(static_cast<std::size_t>(length), '\0');
    GLsizei written = 0;
    (gl->*getInfoLog)(object, length, &written, &log[0]);
    log.resize(static_cast<std::size_t>(written));
    return log;
}

void compileStage(QOpenGLFunctions_3_3_Core* gl, GLShaderStage& shader, GLenum stage, const std::string& source,
                  const char* stageName)
{
    shader.create(gl, stage);
    const char* text = source.c_str();
    gl->glShaderSource(shader.name(), 1, &text, nullptr);
    gl->glCompileShader(shader.name());
    GLint success = 0;
    gl->glGetShaderiv(shader.name(), GL_COMPILE_STATUS, &success);
    if (!success)
        console::out("ERROR::SHADER::", stageName, "::COMPILATION_FAILED\n",
                     infoLog(gl, shader.name(), &QOpenGLFunctions_3_3_Core::glGetShaderiv,
                             &QOpenGLFunctions_3_3_Core::glGetShaderInfoLog));
}

} // namespace

Shader::Shader(std::string vertexPath_, std::string fragmentPath_)
    : vertexPath(std::move(vertexPath_)), fragmentPath(std::move(fragmentPath_))
{
}

void Shader::use(QOpenGLFunctions_3_3_Core* gl)
{
    if (!program)
        compile(gl);
    gl->glUseProgram(program.name());
}

bool Shader::linked(QOpenGLFunctions_3_3_Core* gl) const
{
    GLint success = 0;
    gl->glGetProgramiv(program.name(), GL_LINK_STATUS, &success);
    return success != 0;
}

bool Shader::compile(QOpenGLFunctions_3_3_Core* gl)
{
    if (program)
        return linked(gl);
    std::string vertexSource;
    std::string fragmentSource;
    readSources(vertexPath, fragmentPath, vertexSource, fragmentSource);

    GLShaderStage vertex;
    GLShaderStage fragment;
    compileStage(gl, vertex, GL_VERTEX_SHADER, vertexSource, "VERTEX");
    compileStage(gl, fragment, GL_FRAGMENT_SHADER, fragmentSource, "FRAGMENT");
    program.create(gl);
    gl->glAttachShader(program.name(), vertex.name());
    gl->glAttachShader(program.name(), fragment.name());
    gl->glLinkProgram(program.name());
    const bool success = linked(gl);
    if (!success)
        console::out("ERROR::SHADER::PROGRAM::LINKING_FAILED\n",
                     infoLog(gl, program.name(), &QOpenGLFunctions_3_3_Core::glGetProgramiv,
                             &QOpenGLFunctions_3_3_Core::glGetProgramInfoLog));
    vertex.release(gl);
    fragment.release(gl);
    return success;
}

void Shader::release(QOpenGLFunctions_3_3_Core* gl)
{
    program.release(gl);
}

GLint Shader::location(QOpenGLFunctions_3_3_Core* gl, const std::string& name) const
{
    return gl->glGetUniformLocation(program.name(), name.c_str());
}

void Shader::setInt(QOpenGLFunctions_3_3_Core* gl, const std::string& name, int value) const
{
    const GLint where = location(gl, name);
    if (where != -1)
        gl->glUniform1i(where, value);
}

void Shader::setFloat(QOpenGLFunctions_3_3_Core* gl, const std::string& name, float value) const
{
    const GLint where = location(gl, name);
    if (where != -1)
        gl->glUniform1f(where, value);
}

void Shader::setBool(QOpenGLFunctions_3_3_Core* gl, const std::string& name, bool value) const
{
    setInt(gl, name, value ? 1 : 0);
}

void Shader::setVec4(QOpenGLFunctions_3_3_Core* gl, const std::string& name, const Vec4& value) const
{
    const GLint where = location(gl, name);
    if (where != -1)
        gl->glUniform4f(where, value.x, value.y, value.z, value.w);
}

void Shader::setMat4(QOpenGLFunctions_3_3_Core* gl, const std::string& name, const Mat4& value) const
{
    const GLint where = location(gl, name);
    if (where != -1)
        gl->glUniformMatrix4fv(where, 1, GL_FALSE, value.data());
}

void Shader::setTransforms(QOpenGLFunctions_3_3_Core* gl, const Mat4& model, const Mat4& view,
                           const Mat4& projection) const
{
    setMat4(gl, "model", model);
    setMat4(gl, "view", view);
    setMat4(gl, "projection", projection);
}

} // namespace tavorin
