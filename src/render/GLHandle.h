#pragma once

#include <QOpenGLFunctions_3_3_Core>

#include <utility>

namespace tavorin {

// The GL calls that make and delete one kind of GL object.
namespace gl_object {

using Functions = QOpenGLFunctions_3_3_Core;

// The kinds whose names come from glGen* and go with glDelete*.
template <void (Functions::*Generate)(GLsizei, GLuint*), void (Functions::*Delete)(GLsizei, const GLuint*)>
struct Generated {
    static GLuint create(Functions* gl)
    {
        GLuint name = 0;
        (gl->*Generate)(1, &name);
        return name;
    }
    static void destroy(Functions* gl, GLuint name) { (gl->*Delete)(1, &name); }
};

using Buffer = Generated<&Functions::glGenBuffers, &Functions::glDeleteBuffers>;
using Texture = Generated<&Functions::glGenTextures, &Functions::glDeleteTextures>;
using VertexArray = Generated<&Functions::glGenVertexArrays, &Functions::glDeleteVertexArrays>;
using Framebuffer = Generated<&Functions::glGenFramebuffers, &Functions::glDeleteFramebuffers>;

struct Program {
    static GLuint create(Functions* gl) { return gl->glCreateProgram(); }
    static void destroy(Functions* gl, GLuint name) { gl->glDeleteProgram(name); }
};

// One stage of a program (GL_VERTEX_SHADER, GL_FRAGMENT_SHADER).
struct ShaderStage {
    static GLuint create(Functions* gl, GLenum stage) { return gl->glCreateShader(stage); }
    static void destroy(Functions* gl, GLuint name) { gl->glDeleteShader(name); }
};

} // namespace gl_object

// The one owner of a GL object name of one kind; empty (name 0) at construction and after
// release(). Movable, not copyable, so that exactly one owner deletes the name.
//
// GL names belong to the context that made them and may only be deleted while it is current, on
// the render thread, through its function table. So deleting is explicit: release(gl) deletes the
// name (no GL call when empty) and leaves the handle empty, ready to create() again in a new
// context. The destructor makes no GL call, since there may be no current context by then (the
// process-wide programs outlive every context); a name still held is freed with its context.
// Replacing a name also goes through the table: create() releases the name held before, and there
// is no move assignment that could drop one unseen.
template <typename Kind>
class GLHandle {
public:
    GLHandle() = default;
    GLHandle(GLHandle&& other) noexcept : objectName(std::exchange(other.objectName, 0)) {}
    GLHandle& operator=(GLHandle&&) = delete;
    GLHandle(const GLHandle&) = delete;
    GLHandle& operator=(const GLHandle&) = delete;
    ~GLHandle() = default;

    // A new name in the current context; the one held before is released first.
    template <typename... Arguments>
    void create(QOpenGLFunctions_3_3_Core* gl, Arguments... arguments)
    {
        release(gl);
        objectName = Kind::create(gl, arguments...);
    }

    void release(QOpenGLFunctions_3_3_Core* gl)
    {
        if (objectName != 0)
            Kind::destroy(gl, std::exchange(objectName, 0));
    }

    GLuint name() const { return objectName; }
    explicit operator bool() const { return objectName != 0; }

private:
    GLuint objectName = 0;
};

using GLBuffer = GLHandle<gl_object::Buffer>;
using GLTexture = GLHandle<gl_object::Texture>;
using GLVertexArray = GLHandle<gl_object::VertexArray>;
using GLFramebuffer = GLHandle<gl_object::Framebuffer>;
using GLProgram = GLHandle<gl_object::Program>;
using GLShaderStage = GLHandle<gl_object::ShaderStage>;

} // namespace tavorin
