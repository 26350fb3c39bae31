#include "ui/GLRectangleRenderer.h"

#include "app/Scene.h"
#include "base/Console.h"
#include "ui/GLErrorText.h"

#include <QQuickWindow>

namespace tavorin {

GLRectangleRenderer::GLRectangleRenderer(Scene* scene_) : scene(scene_)
{
    initializeOpenGLFunctions();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    if (scene)
        scene->initialize(this);
}

void GLRectangleRenderer::releaseScene()
{
    if (scene)
        scene->release(this);
}

void GLRectangleRenderer::paint()
{
    GLint boundVertexArray = 0;
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &boundVertexArray);

    glClearColor(kClearGrey, kClearGrey, kClearGrey, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    const qreal ratio = window ? window->devicePixelRatio() : 1.0;
    const QSize scaledViewport = (QSizeF(viewportSize) * ratio).toSize();
    glViewport(viewportPosition.x(), scaledViewport.height() - viewportPosition.y() - viewportSize.height(),
               viewportSize.width(), viewportSize.height());

    if (scene) {
        scene->setViewportSize(viewportSize.width(), viewportSize.height());
        scene->frame(this);
    }

    // One error per frame: the first one still queued.
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR)
        console::outRepeating(glErrorLine(error));

    const QSize currentWindow = window ? (QSizeF(window->size()) * ratio).toSize() : windowSize;
    glViewport(viewportPosition.x(), currentWindow.height() - viewportPosition.y() - windowSize.height(),
               windowSize.width(), windowSize.height());
    glBindVertexArray(static_cast<GLuint>(boundVertexArray));
}

} // namespace tavorin
