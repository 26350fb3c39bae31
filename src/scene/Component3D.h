#pragma once

#include "math/Mat4.h"
#include "math/Vec4.h"

#include <string>

class QOpenGLFunctions_3_3_Core;

namespace tavorin {

class Composite3D;
class Shader;
class Traverser;
struct RenderContext;

// Base of every node of the 3D view. Transform edits multiply on the left (the new transform
// applies after the existing one, in the parent's frame) and change only the local matrix; the
// world matrix follows at the next updateTransform. Render thread only.
class Component3D {
public:
    Component3D() = default;
    Component3D(const Component3D&) = delete;
    Component3D& operator=(const Component3D&) = delete;
    virtual ~Component3D() = default;

    virtual void initialize(QOpenGLFunctions_3_3_Core* gl);
    virtual void updateTransform(const RenderContext& context, const Mat4& parentWorld);
    virtual void update(const RenderContext& context);
    virtual void draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl);
    // Deletes the GL objects the node owns, with their context still current, and returns it to
    // the state in which the next draw builds them again.
    virtual void release(QOpenGLFunctions_3_3_Core* gl);
    virtual void accept(Traverser& traverser);
    std::string typeName() const;
    // Called by Mesh::draw with its program current, before its arrays are drawn.
    virtual void setExtraUniforms(QOpenGLFunctions_3_3_Core* gl, Shader& shader, const RenderContext& context);

    void setParent(Composite3D* composite) { parent = composite; }
    Composite3D* parentNode() const { return parent; }
    // Product of the ancestors' local matrices, root first; identity without a parent.
    Mat4 parentTransform() const;
    // World position of the node's origin; with recompute, world = parentTransform x local first.
    Vec4 worldPosition(bool recompute = false);
    // Pixels from the viewport's bottom-left corner (y up), depth in NDC. Divides by clip w even
    // for points behind the camera.
    Vec4 projectToScreen(const RenderContext& context) const;

    Mat4 worldMatrix() const { return world; }
    Mat4& localMatrix() { return local; }
    void setLocalMatrix(const Mat4& m) { local = m; }
    void resetTransform() { local = Mat4(); }
    void translate(float x, float y, float z);
    void rotate(float angle, int axis); // radians; axis 0 = X, 1 = Y, 2 = Z
    void scale(float x, float y, float z);
    void applyTransform(const Mat4& m);

    const std::string& name() const { return nodeName; }

protected:
    void setName(std::string name) { nodeName = std::move(name); }

private:
    Mat4 local;
    Mat4 world;
    Composite3D* parent = nullptr; // non-owning
    std::string nodeName = "Component3D";
};

} // namespace tavorin
