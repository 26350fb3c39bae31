#include "scene/LightModule.h"

#include "render/Material.h"
#include "render/RenderContext.h"
#include "render/TextRenderer.h"
#include "scene/Cylinder.h"
#include "scene/LightModuleRecord.h"

#include <cmath>
#include <cstdint>

namespace tavorin {

namespace {

constexpr int kModuleSegments = 64;
constexpr float kBlinkPeriod = 2.0f; // seconds; the first half of each period is lit

struct FaultText {
    std::uint16_t bit;
    const char* text;
};
constexpr FaultText kFaultTexts[] = {
    {LightModuleRecord::kFaultCommunication, " COM"},     {LightModuleRecord::kFaultGenerator, " GEN"},
    {LightModuleRecord::kFaultAxisX, " X-AX"},  {LightModuleRecord::kFaultAxisY, " Y-AX"},
    {LightModuleRecord::kFaultLed, " LED"},
};

// A module behind the eye or beyond the far plane has a depth outside -1..1 and no pixel to
// write at; far off-screen positions would not fit the integer anchor.
bool labelPlaceable(const Vec4& screen)
{
    constexpr float kMaxPixels = 1.0e6f;
    return screen.z >= -1.0f && screen.z <= 1.0f && std::fabs(screen.x) < kMaxPixels &&
           std::fabs(screen.y) < kMaxPixels;
}

std::shared_ptr<Cylinder> moduleCylinder()
{
    return std::make_shared<Cylinder>(kModuleSegments, true, true, false);
}

} // namespace

LightModule::LightModule() : head(std::make_shared<Composite3D>()), led(moduleCylinder())
{
    // Housing: radius 0.045 m, spanning y = 0 .. 0.06 m above the mount.
    auto housing = moduleCylinder();
    housing->scale(0.09f, 0.06f, 0.09f);
    housing->translate(0.0f, 0.06f, 0.0f);
    head->addChild(housing);

    // LED: radius 0.04 m, y = -0.01 .. 0.01 m, so its lower face shows below the housing.
    led->scale(0.08f, 0.02f, 0.08f);
    led->translate(0.0f, 0.01f, 0.0f);
    led->setEmission(0.9f, 0.9f, 0.9f, 1.0f);
    head->addChild(led);

    addChild(head);
}

LightModule::~LightModule() = default;

Vec4 LightModule::ledEmission(const LightModuleRecord& record, float time)
{
    if (record.status == LightModuleRecord::kStatusOk) {
        // A module without a known full power glows dark rather than dividing by 0.
        const float r = record.maxIntensity > 0.0f ? record.intensity / record.maxIntensity : 0.0f;
        return Vec4(r, r, r, 1.0f);
    }
    const float b = std::fmod(time, kBlinkPeriod) < kBlinkPeriod / 2.0f ? 1.0f : 0.0f;
    return Vec4(b, 0.0f, 0.0f, 1.0f);
}

std::string LightModule::label(const LightModuleRecord& record, bool brightnessText)
{
    std::string text;
    if (record.status != LightModuleRecord::kStatusOk) {
        for (const FaultText& fault : kFaultTexts)
            if (record.status & fault.bit)
                text += fault.text;
    }
    if (text.empty() && brightnessText && std::isfinite(record.intensity))
        text = std::to_string(static_cast<long long>(record.intensity));
    return text;
}

void LightModule::draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl)
{
    if (!module)
        return;
    const Vec4 emission = ledEmission(*module, context.time);
    led->setEmission(emission.x, emission.y, emission.z, emission.w);
    Composite3D::draw(context, gl);

    const Vec4 p = projectToScreen(context);
    const std::string text = label(*module, brightnessText);
    if (text.empty() || !labelPlaceable(p))
        return;
    drawText(gl, context, text, static_cast<int>(p.x), static_cast<int>(p.y), kLabelFontSize);
}

} // namespace tavorin
