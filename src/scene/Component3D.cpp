#include "scene/Component3D.h"

#include "render/RenderContext.h"
#include "scene/Composite3D.h"
#include "scene/Traverser.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace tavorin {

void Component3D::initialize(QOpenGLFunctions_3_3_Core*) {}

void Component3D::updateTransform(const RenderContext&, const Mat4& parentWorld)
{
    world = parentWorld * local;
}

void Component3D::update(const RenderContext&) {}

void Component3D::draw(const RenderContext&, QOpenGLFunctions_3_3_Core*) {}

void Component3D::release(QOpenGLFunctions_3_3_Core*) {}

void Component3D::accept(Traverser& traverser)
{
    traverser.visit(*this);
}

std::string Component3D::typeName() const
{
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                     std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

void Component3D::setExtraUniforms(QOpenGLFunctions_3_3_Core*, Shader&, const RenderContext&) {}

Mat4 Component3D::parentTransform() const
{
    Mat4 product;
    for (const Composite3D* ancestor = parent; ancestor; ancestor = ancestor->parentNode())
        product = ancestor->local * product;
    return product;
}

Vec4 Component3D::worldPosition(bool recompute)
{
    if (recompute)
        world = parentTransform() * local;
    return world * Vec4::point(0.0f, 0.0f, 0.0f);
}

Vec4 Component3D::projectToScreen(const RenderContext& context) const
{
    const Vec4 clip = context.projection * context.view * world * Vec4::point(0.0f, 0.0f, 0.0f);
    const float width = static_cast<float>(context.width);
    const float height = static_cast<float>(context.height);
    return Vec4((clip.x / clip.w + 1.0f) * 0.5f * width, (clip.y / clip.w + 1.0f) * 0.5f * height, clip.z / clip.w,
                1.0f);
}

void Component3D::translate(float x, float y, float z)
{
    local = tavorin::translate(local, x, y, z);
}

void Component3D::rotate(float angle, int axis)
{
    local = tavorin::rotate(local, angle, axis);
}

void Component3D::scale(float x, float y, float z)
{
    local = tavorin::scale(local, x, y, z);
}

void Component3D::applyTransform(const Mat4& m)
{
    local = m * local;
}

} // namespace tavorin
