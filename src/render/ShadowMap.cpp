#include "render/ShadowMap.h"

#include "render/Shader.h"
#include "render/SharedGLObjects.h"

namespace tavorin {

namespace {
constexpr Vec4 kWorldUp = Vec4::direction(0.0f, 1.0f, 0.0f);
} // namespace

ShadowMap::ShadowMap(const Vec4& position, const Vec4& target)
{
    camera.pose = lookAtModel(position, target, kWorldUp);
}

Mat4 ShadowMap::lightSpaceMatrix() const
{
    return camera.projection(width, height) * camera.view();
}

void ShadowMap::initialize(QOpenGLFunctions_3_3_Core* gl)
{
    if (framebuffer)
        return;
    framebuffer.create(gl);
    depthTexture.create(gl);
    gl->glBindTexture(GL_TEXTURE_2D, depthTexture.name());
    gl->glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, width, height, 0, GL_DEPTH_COMPONENT, GL_FLOAT, nullptr);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    gl->glBindTexture(GL_TEXTURE_2D, 0);

    GLint previousFramebuffer = 0;
    gl->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.name());
    gl->glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, depthTexture.name(), 0);
    gl->glDrawBuffer(GL_NONE);
    gl->glReadBuffer(GL_NONE);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFramebuffer));
}

void ShadowMap::bindTexture(QOpenGLFunctions_3_3_Core* gl) const
{
    gl->glBindTexture(GL_TEXTURE_2D, depthTexture.name());
}

void ShadowMap::render(QOpenGLFunctions_3_3_Core* gl, const std::function<void(Shader& program)>& drawCasters)
{
    if (!framebuffer)
        return;
    GLint savedViewport[4] = {0, 0, 0, 0};
    gl->glGetIntegerv(GL_VIEWPORT, savedViewport);
    GLint previousFramebuffer = 0;
    gl->glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previousFramebuffer);

    gl->glViewport(0, 0, width, height);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.name());
    gl->glClear(GL_DEPTH_BUFFER_BIT);

    Shader& program = shadowMapShader();
    program.use(gl);
    program.setMat4(gl, "lightSpaceMatrix", lightSpaceMatrix());
    drawCasters(program);

    gl->glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previousFramebuffer));
    gl->glUseProgram(0);
    gl->glViewport(savedViewport[0], savedViewport[1], savedViewport[2], savedViewport[3]);
}

void ShadowMap::release(QOpenGLFunctions_3_3_Core* gl)
{
    framebuffer.release(gl);
    depthTexture.release(gl);
}

} // namespace tavorin
