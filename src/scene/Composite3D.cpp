#include "scene/Composite3D.h"

#include "scene/Traverser.h"

#include <algorithm>

namespace tavorin {

void Composite3D::initialize(QOpenGLFunctions_3_3_Core* gl)
{
    for (const auto& child : childNodes)
        child->initialize(gl);
}

void Composite3D::updateTransform(const RenderContext& context, const Mat4& parentWorld)
{
    Component3D::updateTransform(context, parentWorld);
    const Mat4 world = worldMatrix();
    for (const auto& child : childNodes)
        child->updateTransform(context, world);
}

void Composite3D::update(const RenderContext& context)
{
    for (const auto& child : childNodes)
        child->update(context);
}

void Composite3D::draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl)
{
    for (const auto& child : childNodes)
        child->draw(context, gl);
}

void Composite3D::release(QOpenGLFunctions_3_3_Core* gl)
{
    for (const auto& child : childNodes)
        child->release(gl);
}

void Composite3D::accept(Traverser& traverser)
{
    traverser.enter(*this);
    traverser.visit(*this);
    for (const auto& child : childNodes)
        child->accept(traverser);
    traverser.leave(*this);
}

void Composite3D::addChild(const std::shared_ptr<Component3D>& child)
{
    childNodes.push_back(child);
    child->setParent(this);
}

void Composite3D::removeChild(const std::shared_ptr<Component3D>& child)
{
    const auto found = std::find(childNodes.begin(), childNodes.end(), child);
    if (found == childNodes.end())
        return;
    childNodes.erase(found);
    child->setParent(nullptr);
}

void Composite3D::removeAllChildren()
{
    for (const auto& child : childNodes)
        child->setParent(nullptr);
    childNodes.clear();
}

} // namespace tavorin
