#include "scene/Mesh.h"

#include "render/Material.h"
#include "render/RenderContext.h"
#include "render/Shader.h"
#include "render/SharedGLObjects.h"
#include "render/VertexAttribute.h"
#include "scene/LightModuleRecord.h"

#include <map>
#include <string>

namespace tavorin {

namespace {

// The attribute locations of the mesh programs.
enum AttributeLocation : GLuint { kPositionLocation, kNormalLocation, kTexCoordLocation, kTangentLocation };

void appendXYZ(std::vector<float>& out, const Vec4& v)
{
    out.push_back(v.x);
    out.push_back(v.y);
    out.push_back(v.z);
}

} // namespace

Mesh::Mesh() : ownDefaultMaterial(std::make_shared<Material>())
{
    setName("Mesh");
}

Mesh::~Mesh() = default;

void Mesh::setColor(float r, float g, float b, float a)
{
    ownDefaultMaterial->color = Vec4(r, g, b, a);
}

void Mesh::setEmission(float r, float g, float b, float a)
{
    ownDefaultMaterial->emission = Vec4(r, g, b, a);
}

void Mesh::setOwnShader(std::unique_ptr<Shader> program)
{
    ownShader = std::move(program);
    shader = ownShader.get();
}

void Mesh::appendTriangle(BufferInfo& buffer, const Face& face, int a, int b, int c) const
{
    const int corners[3] = {a, b, c};
    const Vec4 p0 = positionList[static_cast<std::size_t>(face.positionIndices[static_cast<std::size_t>(a)])];
    const Vec4 p1 = positionList[static_cast<std::size_t>(face.positionIndices[static_cast<std::size_t>(b)])];
    const Vec4 p2 = positionList[static_cast<std::size_t>(face.positionIndices[static_cast<std::size_t>(c)])];
    appendXYZ(buffer.positions, p0);
    appendXYZ(buffer.positions, p1);
    appendXYZ(buffer.positions, p2);

    const bool textured = !texCoordList.empty();
    Vec4 uv[3];
    if (textured) {
        for (int k = 0; k < 3; ++k) {
            const std::size_t corner = static_cast<std::size_t>(corners[k]);
            if (!face.texCoordIndices.empty())
                uv[k] = texCoordList[static_cast<std::size_t>(face.texCoordIndices[corner])];
            else
                uv[k] = Vec4(0.0f, 0.0f, 0.0f, 0.0f);
            buffer.texCoords.push_back(uv[k].x);
            buffer.texCoords.push_back(uv[k].y);
        }
    }

    if (flatNormals) {
        const Vec4 faceNormal = normalize(cross(p1 - p0, p2 - p0));
        for (int k = 0; k < 3; ++k)
            appendXYZ(buffer.normals, faceNormal);
    } else {
        for (int k = 0; k < 3; ++k)
            appendXYZ(buffer.normals,
                      normalList[static_cast<std::size_t>(face.normalIndices[static_cast<std::size_t>(corners[k])])]);
    }

    if (textured) {
        const Vec4 e1 = p1 - p0;
        const Vec4 e2 = p2 - p0;
        const float d1u = uv[1].x - uv[0].x;
        const float d1v = uv[1].y - uv[0].y;
        const float d2u = uv[2].x - uv[0].x;
        const float d2v = uv[2].y - uv[0].y;
        const float f = 1.0f / (d1u * d2v - d2u * d1v);
        const Vec4 tangent = normalize((e1 * d2v - e2 * d1v) * f);
        for (int k = 0; k < 3; ++k)
            appendXYZ(buffer.tangents, tangent);
    }
}

void Mesh::buildBuffers()
{
    std::map<std::int32_t, std::shared_ptr<BufferInfo>> groups;
    const std::int32_t materialCount = static_cast<std::int32_t>(materialList.size());
    for (const Face& face : faceList) {
        std::shared_ptr<BufferInfo>& group = groups[face.material];
        if (!group) {
            group = std::make_shared<BufferInfo>();
            const bool known = face.material >= 0 && face.material < materialCount;
            group->material = known ? materialList[static_cast<std::size_t>(face.material)] : ownDefaultMaterial;
        }
        const int corners = static_cast<int>(face.positionIndices.size());
        for (int k = 0; k + 2 < corners; ++k)
            appendTriangle(*group, face, k, k + 1, corners - 1);
    }
    bufferList.clear();
    for (auto& entry : groups) {
        entry.second->vertexCount = static_cast<std::int32_t>(entry.second->positions.size() / 3);
        bufferList.push_back(entry.second);
    }
}

void Mesh::uploadBuffer(QOpenGLFunctions_3_3_Core* gl_, BufferInfo& buffer) const
{
    const bool textured = !texCoordList.empty();
    buffer.vertexArray.create(gl_);
    gl_->glBindVertexArray(buffer.vertexArray.name());
    const auto upload = [gl_](GLBuffer& vertexBuffer, GLuint location, GLint components,
                              const std::vector<float>& values) {
        vertexBuffer.create(gl_);
        uploadFloatAttribute(gl_, vertexBuffer, location, components, values);
    };
    upload(buffer.vertexBuffers[0], kPositionLocation, 3, buffer.positions);
    upload(buffer.vertexBuffers[1], kNormalLocation, 3, buffer.normals);
    if (textured) {
        upload(buffer.vertexBuffers[2], kTexCoordLocation, 2, buffer.texCoords);
        upload(buffer.vertexBuffers[3], kTangentLocation, 3, buffer.tangents);
    }
    gl_->glBindBuffer(GL_ARRAY_BUFFER, 0);
    gl_->glBindVertexArray(0);
}

void Mesh::initialize(QOpenGLFunctions_3_3_Core* gl_)
{
    if (initialized)
        return;
    gl = gl_;
    buildBuffers();
    if (!shader)
        shader = &defaultShader();
    for (const auto& buffer : bufferList)
        uploadBuffer(gl, *buffer);
    initialized = true;
}

void Mesh::setMatrixUniforms(QOpenGLFunctions_3_3_Core* gl_, Shader& program, const RenderContext& context) const
{
    const Mat4 world = worldMatrix();
    program.setTransforms(gl_, world, context.view, context.projection);
    program.setMat4(gl_, "normalMatrix", transpose(inverse(context.view * world)));
}

void Mesh::setLightUniforms(QOpenGLFunctions_3_3_Core* gl_, Shader& program) const
{
    const Vec4 down = Vec4::direction(0.0f, -1.0f, 0.0f);
    for (int i = 0; i < kLightSlots; ++i) {
        const std::string prefix = "lights[" + std::to_string(i) + "]";
        Vec4 position = Vec4::point(0.0f, 0.0f, 0.0f);
        Vec4 direction(0.0f, 0.0f, 0.0f, 1.0f);
        float intensity = 0.0f;
        float lensDiameter = 0.0f;
        if (i < static_cast<int>(lightList.size())) {
            const LightModuleRecord& light = *lightList[static_cast<std::size_t>(i)];
            position = light.transform.translation();
            direction = light.aiming * down;
            // A module without a known full power counts as dark rather than as a division by 0.
            intensity = light.maxIntensity > 0.0f ? light.intensity / light.maxIntensity : 0.0f;
            lensDiameter = kLensDiameter;
        }
        program.setVec4(gl_, prefix + ".mPos", position);
        program.setVec4(gl_, prefix + ".mDir", direction);
        program.setFloat(gl_, prefix + ".intensity", intensity);
        program.setFloat(gl_, prefix + ".lenseDiameter", lensDiameter);
    }
}

void Mesh::drawArrays(QOpenGLFunctions_3_3_Core* gl_) const
{
    for (const auto& buffer : bufferList) {
        if (!buffer->isUploaded())
            continue;
        gl_->glBindVertexArray(buffer->vertexArray.name());
        gl_->glDrawArrays(GL_TRIANGLES, 0, buffer->vertexCount);
    }
}

void Mesh::draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl_)
{
    if (!visible)
        return;
    if (!initialized)
        initialize(gl_);
    shader->use(gl_);
    setMatrixUniforms(gl_, *shader, context);
    setExtraUniforms(gl_, *shader, context);
    if (lightUniformsEnabled)
        setLightUniforms(gl_, *shader);
    for (const auto& buffer : bufferList) {
        buffer->material->apply(gl_, *shader, context.shadowMaps);
        gl_->glBindVertexArray(buffer->vertexArray.name());
        gl_->glDrawArrays(GL_TRIANGLES, 0, buffer->vertexCount);
    }
    if (wireframe)
        drawWireframe(gl_, context);
}

void Mesh::drawWireframe(QOpenGLFunctions_3_3_Core* gl_, const RenderContext& context) const
{
    gl_->glCullFace(GL_FRONT);
    Shader& program = wireframeShader();
    program.use(gl_);
    program.setTransforms(gl_, worldMatrix(), context.view, context.projection);
    gl_->glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    drawArrays(gl_);
    gl_->glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    gl_->glBindVertexArray(0);
    gl_->glCullFace(GL_BACK);
}

void Mesh::release(QOpenGLFunctions_3_3_Core* gl_)
{
    if (!gl)
        return;
    for (const auto& buffer : bufferList)
        buffer->release(gl_);
    if (ownShader)
        ownShader->release(gl_);
    ownShader.reset();
    shader = nullptr;
    gl = nullptr;
    // Back to the constructed state: the next draw rebuilds the arrays from the polygons.
    bufferList.clear();
    initialized = false;
}

} // namespace tavorin
