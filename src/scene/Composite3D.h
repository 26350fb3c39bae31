#pragma once

#include "scene/Component3D.h"

#include <memory>
#include <vector>

namespace tavorin {

// A node that shares ownership of an ordered list of children and forwards every per-frame
// operation to them in insertion order. A child's parent link never owns. Render thread only.
class Composite3D : public Component3D {
public:
    Composite3D() = default;
    ~Composite3D() override = default;

    void initialize(QOpenGLFunctions_3_3_Core* gl) override;
    void updateTransform(const RenderContext& context, const Mat4& parentWorld) override;
    void update(const RenderContext& context) override;
    void draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl) override;
    void release(QOpenGLFunctions_3_3_Core* gl) override;
    void accept(Traverser& traverser) override;

    // The same node may be added twice; it is then forwarded to twice.
    void addChild(const std::shared_ptr<Component3D>& child);
    // Removes the first entry holding this node; does nothing if there is none.
    void removeChild(const std::shared_ptr<Component3D>& child);
    void removeAllChildren();
    std::vector<std::shared_ptr<Component3D>>& children() { return childNodes; }

private:
    std::vector<std::shared_ptr<Component3D>> childNodes;
};

} // namespace tavorin
