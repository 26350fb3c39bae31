#include "scene/SensorTubus.h"

#include "render/FloatTexture.h"
#include "render/Shader.h"
#include "scene/HeightMapRecord.h"

namespace tavorin {

namespace {

// Constants of the light evaluation; their meaning is written down in shaders/sensorSurface.frag.
constexpr int kSoftShadowPrecision = 1;
constexpr bool kRaytracePointCloud = true;
constexpr float kMinimalBrightness = 800000.0f; // lux
constexpr bool kUseColorMap = true;
constexpr float kColorMapMaximum = 800000.0f; // lux
constexpr bool kUseSoftShadow = true;
constexpr float kAngle10Intensity = 0.0f; // 0: the module's own beam profile
constexpr bool kUseLightProfile = true;
constexpr int kTubusDiameter = 1; // opening diameter in tube diameters

} // namespace

SensorTubus::SensorTubus() : Cylinder(kSegments, false, true, true)
{
    setName("SensorTubus");
    setLightUniformsEnabled(true);
}

SensorTubus::~SensorTubus() = default;

void SensorTubus::initialize(QOpenGLFunctions_3_3_Core* gl)
{
    if (isInitialized())
        return;
    setOwnShader(std::make_unique<Shader>("shaders/sensorSurface.vert", "shaders/sensorSurface.frag"));
    Mesh::initialize(gl);
}

void SensorTubus::release(QOpenGLFunctions_3_3_Core* gl)
{
    releaseHeightMapTexture(gl);
    Mesh::release(gl);
}

void SensorTubus::releaseHeightMapTexture(QOpenGLFunctions_3_3_Core* gl)
{
    if (!heightMapTexture)
        return;
    heightMapTexture->release(gl);
    heightMapTexture.reset();
}

void SensorTubus::setLightModelUniforms(QOpenGLFunctions_3_3_Core* gl, Shader& shader) const
{
    shader.setInt(gl, "softShadowPrecision", kSoftShadowPrecision);
    shader.setBool(gl, "raytracePointCloud", kRaytracePointCloud);
    shader.setFloat(gl, "minimalBrightness", kMinimalBrightness);
    shader.setBool(gl, "useColorMap", kUseColorMap);
    shader.setFloat(gl, "colorMapMaximum", kColorMapMaximum);
    shader.setBool(gl, "useSoftShadow", kUseSoftShadow);
    shader.setFloat(gl, "angle10Intensity", kAngle10Intensity);
    shader.setBool(gl, "useLightProfile", kUseLightProfile);
}

void SensorTubus::bindHeightMap(QOpenGLFunctions_3_3_Core* gl, Shader& shader)
{
    gl->glActiveTexture(GL_TEXTURE0 + kHeightMapUnit);
    if (lightTarget && lightTarget->hasSamples()) {
        shader.setInt(gl, "heightMap", kHeightMapUnit);
        heightMapTexture = std::make_shared<FloatTexture>(lightTarget->heights, lightTarget->width, lightTarget->height);
        heightMapTexture->bind(gl);
    } else {
        gl->glBindTexture(GL_TEXTURE_2D, 0);
    }
    gl->glActiveTexture(GL_TEXTURE0 + kHeightMapUnit);
}

void SensorTubus::setExtraUniforms(QOpenGLFunctions_3_3_Core* gl, Shader& shader, const RenderContext&)
{
    releaseHeightMapTexture(gl);
    setLightModelUniforms(gl, shader);
    // A light target without readable samples counts as none.
    if (lightTarget && lightTarget->hasSamples()) {
        shader.setFloat(gl, "capturedAreaSideWidth", lightTarget->areaWidth);
        shader.setFloat(gl, "capturedAreaSideHeight", lightTarget->areaHeight);
    }
    shader.setVec4(gl, "sensorPoint", sensorPoint);
    shader.setInt(gl, "tubusDiameter", kTubusDiameter);
    // World-space normals: this replaces the mesh's view-space normal matrix.
    shader.setMat4(gl, "normalMatrix", transpose(inverse(worldMatrix())));
    bindHeightMap(gl, shader);
}

} // namespace tavorin
