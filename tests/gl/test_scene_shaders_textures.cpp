// Programs, textures and meshes in a real 3.3 core context: failure reports, single compilation,
// the RGB upload of images with other channel counts, and what a mesh's clean-up leaves behind.
#include "GLTestContext.h"

#include "render/GLHandle.h"
#include "render/RGBTexture.h"
#include "render/RenderContext.h"
#include "render/Shader.h"
#include "render/SharedGLObjects.h"
#include "scene/Cube.h"

#include <QColor>
#include <QImage>
#include <QTemporaryDir>

#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

using tavorin::Cube, tavorin::defaultShader, tavorin::GLTexture, tavorin::Mat4, tavorin::RGBTexture, tavorin::Shader,
    tavorin::Vec4;

namespace {

using ShaderAndTexture = GLTestContext;

TEST_F(ShaderAndTexture, MissingShaderFileIsReportedAndTheProgramIsBuiltOnce)
{
    Shader broken("shaders/does-not-exist.vert", "shaders/default.frag");
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    broken.use(gl);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(err, "ERROR::SHADER::FILE_NOT_SUCCESFULLY_READ\n");
    // Both stages get empty sources, so both fail, and so does the link.
    EXPECT_NE(out.find("ERROR::SHADER::VERTEX::COMPILATION_FAILED\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ERROR::SHADER::FRAGMENT::COMPILATION_FAILED\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ERROR::SHADER::PROGRAM::LINKING_FAILED\n"), std::string::npos) << out;
    EXPECT_TRUE(broken.isCompiled());

    const GLuint first = broken.programName();
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    broken.use(gl);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(broken.programName(), first);
    EXPECT_FALSE(broken.compile(gl)) << "the kept program still answers that it did not link";

    // Drawing a mesh with the broken program goes on without a crash.
    while (gl->glGetError() != GL_NO_ERROR) {
    }
    Cube cube;
    cube.setShader(&broken);
    cube.draw(context, gl);
    broken.release(gl);
}

TEST_F(ShaderAndTexture, ProgramsCompileOnceAndUnknownUniformsAreIgnored)
{
    Shader program("shaders/color.vert", "shaders/color.frag");
    testing::internal::CaptureStdout();
    program.use(gl);
    const GLuint name = program.programName();
    program.use(gl);
    EXPECT_TRUE(program.compile(gl));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(program.programName(), name);
    EXPECT_TRUE(gl->glIsProgram(name));

    while (gl->glGetError() != GL_NO_ERROR) {
    }
    program.setFloat(gl, "noSuchUniform", 1.0f);
    program.setMat4(gl, "noSuchMatrix", Mat4());
    program.setVec4(gl, "color", Vec4(0.25f, 0.5f, 0.75f, 1.0f));
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    GLfloat color[4] = {};
    gl->glGetUniformfv(name, gl->glGetUniformLocation(name, "color"), color);
    EXPECT_FLOAT_EQ(color[1], 0.5f);

    // After release the next use builds a new program (a new context would need that).
    program.release(gl);
    EXPECT_FALSE(program.isCompiled());
    program.use(gl);
    EXPECT_TRUE(gl->glIsProgram(program.programName()));
    program.release(gl);
}

TEST_F(ShaderAndTexture, CompileFailureReportsTheWholeDriverLog)
{
    // Far more errors than fit in 512 bytes of log; the last one names the last line.
    constexpr int kBrokenLines = 60;
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/broken.frag").toStdString();
    std::ofstream source(path);
    source << "#version 330 core\nout vec4 colour;\nvoid main() {\n";
    for (int i = 0; i < kBrokenLines; ++i)
        source << "    colour = undeclaredValue" << i << ";\n";
    source << "}\n";
    source.close();

    Shader broken("shaders/default.vert", path);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(broken.compile(gl));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string report = "ERROR::SHADER::FRAGMENT::COMPILATION_FAILED\n";
    ASSERT_EQ(out.rfind(report, 0), 0u) << out;
    const std::string log = out.substr(report.size(), out.find("ERROR::SHADER::PROGRAM") - report.size());
    EXPECT_GT(log.size(), 512u);
    EXPECT_NE(log.find("undeclaredValue" + std::to_string(kBrokenLines - 1)), std::string::npos) << log;
    broken.release(gl);
}

// One owner per name: moving hands the name over, create() replaces the name it held, release()
// deletes it once.
TEST_F(ShaderAndTexture, HandleOwnsExactlyOneName)
{
    static_assert(!std::is_copy_constructible<GLTexture>::value && !std::is_copy_assignable<GLTexture>::value);
    static_assert(std::is_nothrow_move_constructible<GLTexture>::value && !std::is_move_assignable<GLTexture>::value);

    GLTexture first;
    first.create(gl);
    gl->glBindTexture(GL_TEXTURE_2D, first.name()); // a generated name becomes a texture when bound
    const GLuint name = first.name();
    GLTexture owner(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(owner.name(), name);
    EXPECT_TRUE(gl->glIsTexture(name));

    owner.create(gl);
    gl->glBindTexture(GL_TEXTURE_2D, owner.name());
    EXPECT_FALSE(gl->glIsTexture(name)) << "the name held before is deleted";
    const GLuint second = owner.name();
    owner.release(gl);
    owner.release(gl);
    first.release(gl);
    EXPECT_FALSE(owner);
    EXPECT_FALSE(gl->glIsTexture(second));
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ShaderAndTexture, GreyImageOfOddWidthIsUploadedAsRGB)
{
    QTemporaryDir dir;
    const std::string path = (dir.path() + "/grey.png").toStdString();
    QImage grey(5, 3, QImage::Format_Grayscale8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            grey.setPixelColor(x, y, QColor(40 * x + y, 40 * x + y, 40 * x + y));
    ASSERT_TRUE(grey.save(QString::fromStdString(path)));

    RGBTexture texture(path, GL_NEAREST);
    testing::internal::CaptureStdout();
    texture.bind(gl);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Texture " + path + " loaded. 5 x 3 ( 1 Channels).\n");

    // Read the level back as RGB: every texel carries the grey value in all three channels, the
    // rows not shifted by 4-byte row padding.
    std::vector<unsigned char> rgb(5 * 3 * 3);
    gl->glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl->glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(rgb[static_cast<std::size_t>((y * 5 + x) * 3 + c)], 40 * x + y) << x << "," << y;
    texture.release(gl);
    EXPECT_FALSE(texture.isUploaded());
}

TEST_F(ShaderAndTexture, MissingImageIsReportedOnce)
{
    RGBTexture texture("models/textures/no-such-image.png");
    testing::internal::CaptureStdout();
    texture.bind(gl);
    texture.bind(gl);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to load texture\n");
    texture.release(gl);
}

TEST_F(ShaderAndTexture, MeshCleanupKeepsTheDefaultProgramAndTheMeshDrawsAgain)
{
    bindTarget(64, 64);
    context.width = context.height = 64;
    Cube cube;
    cube.scale(1.0f, 1.0f, 0.1f);
    cube.setColor(1.0f, 0.0f, 0.0f, 1.0f);
    cube.updateTransform(context, Mat4());
    cube.draw(context, gl);
    ASSERT_EQ(cube.currentShader(), &defaultShader());
    const GLuint defaultProgram = defaultShader().programName();
    // Without shadow lights only the ambient share of the red material shows.
    const QColor drawn = readBack().pixelColor(32, 32);
    EXPECT_GT(drawn.red(), 40);
    EXPECT_LT(drawn.green(), 10);

    cube.release(gl);
    EXPECT_TRUE(gl->glIsProgram(defaultProgram));
    EXPECT_FALSE(cube.isInitialized());

    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    cube.draw(context, gl);
    EXPECT_EQ(readBack().pixelColor(32, 32), drawn);

    gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    cube.setVisible(false);
    cube.setWireframe(true);
    cube.draw(context, gl);
    EXPECT_EQ(readBack().pixelColor(32, 32), QColor(128, 128, 128));
    cube.release(gl);
}

} // namespace
