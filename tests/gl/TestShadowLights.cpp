#include "TestShadowLights.h"

#include "render/RenderContext.h"
#include "scene/Component3D.h"
#include "scene/ShadowRenderTraverser.h"

using tavorin::Component3D, tavorin::RenderContext, tavorin::renderShadows, tavorin::ShadowMap, tavorin::Vec4;

TestShadowLights::TestShadowLights()
{
    const Vec4 positions[4] = {Vec4::point(2.0f, 1.8f, 2.0f), Vec4::point(2.0f, 1.8f, -2.0f),
                               Vec4::point(-2.0f, 1.8f, -2.0f), Vec4::point(-2.0f, 1.8f, 2.0f)};
    for (std::size_t i = 0; i < maps.size(); ++i)
        maps[i] = std::make_unique<ShadowMap>(positions[i], Vec4::point(0.0f, 0.0f, 0.0f));
}

void TestShadowLights::render(QOpenGLFunctions_3_3_Core* gl, Component3D& root, RenderContext& context)
{
    for (std::size_t i = 0; i < maps.size(); ++i) {
        maps[i]->initialize(gl);
        renderShadows(gl, *maps[i], root);
        context.shadowMaps[i] = maps[i].get();
    }
}

void TestShadowLights::release(QOpenGLFunctions_3_3_Core* gl)
{
    for (const auto& map : maps)
        map->release(gl);
}
