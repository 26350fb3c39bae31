#include "render/TextRenderer.h"

#include "render/GLHandle.h"
#include "render/RGBTexture.h"
#include "render/RenderContext.h"
#include "render/Shader.h"
#include "render/SharedGLObjects.h"
#include "render/TextLayout.h"
#include "render/VertexAttribute.h"

#include <QOpenGLFunctions_3_3_Core>

#include <vector>

namespace tavorin {

namespace {

// The attribute locations of the text program.
enum AttributeLocation : GLuint { kPositionLocation, kTexCoordLocation };
constexpr GLint kFloatsPerVertex = 2;
constexpr GLint kFontUnit = 0;

// The glyphs are drawn with their coverage as alpha over whatever the frame holds; the caller's
// blend state is restored afterwards.
class BlendOver {
public:
    explicit BlendOver(QOpenGLFunctions_3_3_Core* gl_) : gl(gl_), wasEnabled(gl->glIsEnabled(GL_BLEND))
    {
        gl->glGetIntegerv(GL_BLEND_SRC_RGB, &sourceRGB);
        gl->glGetIntegerv(GL_BLEND_DST_RGB, &destinationRGB);
        gl->glGetIntegerv(GL_BLEND_SRC_ALPHA, &sourceAlpha);
        gl->glGetIntegerv(GL_BLEND_DST_ALPHA, &destinationAlpha);
        gl->glEnable(GL_BLEND);
        gl->glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ZERO, GL_ONE);
    }
    ~BlendOver()
    {
        gl->glBlendFuncSeparate(static_cast<GLenum>(sourceRGB), static_cast<GLenum>(destinationRGB),
                                static_cast<GLenum>(sourceAlpha), static_cast<GLenum>(destinationAlpha));
        if (!wasEnabled)
            gl->glDisable(GL_BLEND);
    }
    BlendOver(const BlendOver&) = delete;
    BlendOver& operator=(const BlendOver&) = delete;

private:
    QOpenGLFunctions_3_3_Core* gl;
    GLboolean wasEnabled;
    GLint sourceRGB = GL_ONE;
    GLint destinationRGB = GL_ZERO;
    GLint sourceAlpha = GL_ONE;
    GLint destinationAlpha = GL_ZERO;
};

} // namespace

void drawText(QOpenGLFunctions_3_3_Core* gl, const RenderContext& context, const std::string& text, int x, int y,
              float fontSize)
{
    const TextLayout layout = layoutText(text);

    GLVertexArray vertexArray;
    GLBuffer positions;
    GLBuffer texCoords;
    vertexArray.create(gl);
    gl->glBindVertexArray(vertexArray.name());
    positions.create(gl);
    texCoords.create(gl);
    uploadFloatAttribute(gl, positions, kPositionLocation, kFloatsPerVertex, layout.positions);
    uploadFloatAttribute(gl, texCoords, kTexCoordLocation, kFloatsPerVertex, layout.texCoords);

    gl->glActiveTexture(GL_TEXTURE0 + kFontUnit);
    fontTexture().bind(gl);

    Shader& program = textRendererShader();
    program.use(gl);
    program.setFloat(gl, "screenWidth", static_cast<float>(context.width));
    program.setFloat(gl, "screenHeight", static_cast<float>(context.height));
    program.setFloat(gl, "fontSize", fontSize / static_cast<float>(TextLayout::kLineHeight));
    program.setInt(gl, "x", layout.anchorX(x));
    program.setInt(gl, "y", y);
    program.setInt(gl, "fontTexture", kFontUnit);

    {
        const BlendOver blend(gl);
        gl->glDrawArrays(GL_TRIANGLES, 0, layout.vertexCount());
    }

    gl->glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl->glBindVertexArray(0);
    vertexArray.release(gl);
    positions.release(gl);
    texCoords.release(gl);
}

} // namespace tavorin
