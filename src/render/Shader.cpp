#include "render/Shader.h"

#include <fstream>
#include <iostream>
#include <sstream>

namespace {

constexpr GLsizei kInfoLogLength = 512;

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
        std::cerr << "ERROR::SHADER::FILE_NOT_SUCCESFULLY_READ" << std::endl;
        vertex.clear();
        fragment.clear();
    }
}

GLuint compileStage(QOpenGLFunctions_3_3_Core* gl, GLenum stage, const std::string& source, const char* stageName)
{
    const GLuint shader = gl->glCreateShader(stage);
    const char* text = source.c_str();
    gl->glShaderSource(shader, 1, &text, nullptr);
    gl->glCompileShader(shader);
    GLint success = 0;
    gl->glGetShaderiv(shader, GL_COMPILE_STATUS, &success);
    if (!success) {
        char log[kInfoLogLength] = {};
        gl->glGetShaderInfoLog(shader, kInfoLogLength, nullptr, log);
        std::cout << "ERROR::SHADER::" << stageName << "::COMPILATION_FAILED\n" << log << std::endl;
    }
    return shader;
}

} // namespace

Shader::Shader(std::string vertexPath_, std::string fragmentPath_)
    : vertexPath(std::move(vertexPath_)), fragmentPath(std::move(fragmentPath_))
{
}

void Shader::use(QOpenGLFunctions_3_3_Core* gl)
{
    if (!compiled)
        compile(gl);
    gl->glUseProgram(program);
}

void Shader::compile(QOpenGLFunctions_3_3_Core* gl)
{
    if (compiled)
        return;
    std::string vertexSource;
    std::string fragmentSource;
    readSources(vertexPath, fragmentPath, vertexSource, fragmentSource);

    const GLuint vertex = compileStage(gl, GL_VERTEX_SHADER, vertexSource, "VERTEX");
    const GLuint fragment = compileStage(gl, GL_FRAGMENT_SHADER, fragmentSource, "FRAGMENT");
    program = gl->glCreateProgram();
    gl->glAttachShader(program, vertex);
    gl->glAttachShader(program, fragment);
    gl->glLinkProgram(program);
    GLint success = 0;
    gl->glGetProgramiv(program, GL_LINK_STATUS, &success);
    if (!success) {
        char log[kInfoLogLength] = {};
        gl->glGetProgramInfoLog(program, kInfoLogLength, nullptr, log);
        std::cout << "ERROR::SHADER::PROGRAM::LINKING_FAILED\n" << log << std::endl;
    }
    gl->glDeleteShader(vertex);
    gl->glDeleteShader(fragment);
    compiled = true;
}

void Shader::destroy(QOpenGLFunctions_3_3_Core* gl)
{
    if (compiled)
        gl->glDeleteProgram(program);
    program = 0;
    compiled = false;
}

GLint Shader::location(QOpenGLFunctions_3_3_Core* gl, const std::string& name) const
{
    return gl->glGetUniformLocation(program, name.c_str());
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
