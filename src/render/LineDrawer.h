#pragma once

#include "math/Mat4.h"
#include "math/Vec4.h"
#include "render/GLHandle.h"

#include <QOpenGLFunctions_3_3_Core>

namespace tavorin {

// Draws single 3D line segments with the process-wide line program. Keeps one two-vertex array,
// made at the first draw in a context and kept until release(). Render thread only.
class LineDrawer {
public:
    void drawLine(QOpenGLFunctions_3_3_Core* gl, const Mat4& projection, const Mat4& view, const Mat4& model,
                  const Vec4& color, const Vec4& start, const Vec4& end);
    // Deletes the vertex array in the current context; the next draw makes it again.
    void release(QOpenGLFunctions_3_3_Core* gl);

private:
    void createVertexArray(QOpenGLFunctions_3_3_Core* gl);

    GLVertexArray vertexArray;
    GLBuffer vertexBuffer;
};

// The one line drawer of the process.
LineDrawer& lineDrawer();

} // namespace tavorin
