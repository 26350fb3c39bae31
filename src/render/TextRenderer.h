#pragma once

#include <string>

class QOpenGLFunctions_3_3_Core;

namespace tavorin {

struct RenderContext;

// Writes a text at pixel (x, y) of the viewport (y up, as projectToScreen gives it) with the font
// atlas, fontSize pixels per line. The anchor is shifted left by a ninth of the last line's width.
// Builds and deletes its buffers on every call; the font texture and the program are the
// process-wide ones. Render thread, during a frame.
void drawText(QOpenGLFunctions_3_3_Core* gl, const RenderContext& context, const std::string& text, int x, int y,
              float fontSize);

} // namespace tavorin
