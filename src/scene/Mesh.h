#pragma once

#include "scene/BufferInfo.h"
#include "scene/Component3D.h"
#include "scene/Face.h"

#include <memory>
#include <vector>

namespace tavorin {

struct LightModuleRecord;
struct Material;

// A leaf node that owns polygons and draws them as triangles grouped by material. Polygons are
// read once, at initialize; edits after that have no visible effect. release() deletes the GL
// objects and returns the mesh to its constructed state, so that the next draw (in a new
// context) builds everything again. Render thread only.
class Mesh : public Component3D {
public:
    static constexpr int kLightSlots = 100;
    static constexpr float kLensDiameter = 0.08f; // metres

    Mesh();
    ~Mesh() override;

    void initialize(QOpenGLFunctions_3_3_Core* gl) override;
    void draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl) override;
    void release(QOpenGLFunctions_3_3_Core* gl) override;

    void setLightUniformsEnabled(bool enabled) { lightUniformsEnabled = enabled; }
    void setAuxFlag(bool flag) { auxFlag = flag; }
    void setFlatNormals(bool flat) { flatNormals = flat; }
    void setColor(float r, float g, float b, float a);
    void setEmission(float r, float g, float b, float a);
    void setVisible(bool value) { visible = value; }
    void setWireframe(bool value) { wireframe = value; }
    // A program owned elsewhere (process-wide or by a node that outlives this mesh's use of it).
    void setShader(Shader* program) { shader = program; }

    // Groups the faces by material index (ascending) and triangulates them; fills buffers().
    void buildBuffers();
    // One glDrawArrays per material group with whatever program is current; nothing before
    // initialize.
    void drawArrays(QOpenGLFunctions_3_3_Core* gl) const;

    std::vector<Face>& faces() { return faceList; }
    std::vector<Vec4>& positions() { return positionList; }
    std::vector<Vec4>& normals() { return normalList; }
    std::vector<Vec4>& texCoords() { return texCoordList; }
    std::vector<std::shared_ptr<Material>>& materials() { return materialList; }
    const std::vector<std::shared_ptr<BufferInfo>>& buffers() const { return bufferList; }
    std::vector<std::shared_ptr<LightModuleRecord>>& lights() { return lightList; }
    const std::shared_ptr<Material>& defaultMaterial() const { return ownDefaultMaterial; }
    Shader* currentShader() const { return shader; }
    bool isInitialized() const { return initialized; }

protected:
    // A program this mesh creates and owns (ScenePoint, SensorTubus); becomes the shader.
    void setOwnShader(std::unique_ptr<Shader> program);
    void setMatrixUniforms(QOpenGLFunctions_3_3_Core* gl, Shader& program, const RenderContext& context) const;

private:
    void appendTriangle(BufferInfo& buffer, const Face& face, int a, int b, int c) const;
    void uploadBuffer(QOpenGLFunctions_3_3_Core* gl, BufferInfo& buffer) const;
    void setLightUniforms(QOpenGLFunctions_3_3_Core* gl, Shader& program) const;
    void drawWireframe(QOpenGLFunctions_3_3_Core* gl, const RenderContext& context) const;

    Shader* shader = nullptr; // non-owning, or ownShader
    std::unique_ptr<Shader> ownShader;
    std::vector<Face> faceList;
    std::vector<Vec4> positionList;
    std::vector<Vec4> normalList;
    std::vector<Vec4> texCoordList;
    std::vector<std::shared_ptr<Material>> materialList;
    std::vector<std::shared_ptr<BufferInfo>> bufferList;
    bool initialized = false;
    bool flatNormals = true;
    bool lightUniformsEnabled = false;
    bool auxFlag = true; // kept for callers; nothing reads it
    bool visible = true;
    bool wireframe = false;
    QOpenGLFunctions_3_3_Core* gl = nullptr; // remembered by initialize, forgotten by release
    std::shared_ptr<Material> ownDefaultMaterial;
    std::vector<std::shared_ptr<LightModuleRecord>> lightList; // only the sensor tubus fills it
};

} // namespace tavorin
