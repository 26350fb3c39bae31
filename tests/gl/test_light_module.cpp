// The light module node drawn into an offscreen target, seen from below so that the LED's lower
// face fills the middle of the view: glow, fault blink and labels.
#include "GLTestContext.h"
#include "LightPlanningView.h"
#include "TestShadowLights.h"

#include "render/Material.h"
#include "scene/Cylinder.h"
#include "scene/LightModule.h"
#include "scene/LightModuleRecord.h"

#include <QColor>

#include <memory>

using tavorin::Composite3D, tavorin::LightModule, tavorin::LightModuleRecord, tavorin::Mat4, tavorin::translate,
    tavorin::Vec4;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

std::shared_ptr<LightModuleRecord> module(std::uint16_t status, float intensity, float maxIntensity)
{
    auto record = std::make_shared<LightModuleRecord>();
    record->transform = translate(Mat4(), 0.0f, 1.0f, 0.0f);
    record->status = status;
    record->intensity = intensity;
    record->maxIntensity = maxIntensity;
    return record;
}

TEST(LightModuleLabel, FaultTextsInBitOrderAndTheBrightnessOfModulesInOrder)
{
    const auto com_xAxis = module(LightModuleRecord::kFaultCommunication | LightModuleRecord::kFaultAxisX, 500, 1000);
    EXPECT_EQ(LightModule::label(*com_xAxis, false), " COM X-AX");
    EXPECT_EQ(LightModule::label(*com_xAxis, true), " COM X-AX") << "faults win over the brightness";
    EXPECT_EQ(LightModule::label(*module(2 | 4 | 8 | 16 | 32, 0, 1), false), " COM GEN X-AX Y-AX LED");

    EXPECT_EQ(LightModule::label(*module(LightModuleRecord::kStatusOk, 500, 1000), false), "");
    EXPECT_EQ(LightModule::label(*module(LightModuleRecord::kStatusOk, 500, 1000), true), "500");
    EXPECT_EQ(LightModule::label(*module(LightModuleRecord::kStatusOk, 12.9f, 1000), true), "12");
    EXPECT_EQ(LightModule::label(*module(0, 500, 1000), false), "") << "status 0 has no fault bit";
}

TEST(LightModuleLed, GlowIsTheRelativeIntensityAndFaultsBlinkRedOnceASecond)
{
    const Vec4 glow = LightModule::ledEmission(*module(LightModuleRecord::kStatusOk, 500, 1000), 0.0f);
    EXPECT_EQ(glow, Vec4(0.5f, 0.5f, 0.5f, 1.0f));
    EXPECT_EQ(LightModule::ledEmission(*module(LightModuleRecord::kStatusOk, 500, 0), 0.0f), Vec4(0, 0, 0, 1))
        << "no full power known: dark, not a division by zero";

    const auto faulty = module(LightModuleRecord::kFaultCommunication | LightModuleRecord::kFaultAxisX, 500, 1000);
    EXPECT_EQ(LightModule::ledEmission(*faulty, 2.5f), Vec4(1, 0, 0, 1));
    EXPECT_EQ(LightModule::ledEmission(*faulty, 3.5f), Vec4(0, 0, 0, 1));
    EXPECT_EQ(LightModule::ledEmission(*module(0, 500, 1000), 0.25f), Vec4(1, 0, 0, 1));
}

class LightModuleDrawing : public GLTestContext {
protected:
    void setUpGL() override
    {
        // From below and in front: the LED's lower face at y = 0.99 is the centre of the view.
        viewFrom(kWidth, kHeight, Vec4::point(0, 0.75f, 0.12f), Vec4::point(0, 0.99f, 0));
        Composite3D nothing;
        shadowLights.render(gl, nothing, context);
    }
    void releaseGL() override
    {
        node.release(gl);
        shadowLights.release(gl);
    }

    QImage drawModule(const std::shared_ptr<LightModuleRecord>& record, float time)
    {
        gl->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        context.time = time;
        node.setLocalMatrix(record->transform * record->aiming);
        node.setRecord(record);
        node.updateTransform(context, Mat4());
        node.draw(context, gl);
        EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        return readBack();
    }

    QColor ledColor(const QImage& image) const { return image.pixelColor(pixelOf(context, Vec4::point(0, 0.99f, 0))); }

    // Label pixels: the anchor is the module origin's screen position less 32 pixels (the pen of
    // a label of 9 glyphs divided by 9), the text 11 pixels high above it.
    int labelPixels(const QImage& image) const
    {
        const QPoint origin = pixelOf(context, Vec4::point(0, 1.0f, 0));
        return whitePixels(image, origin.x() - 40, origin.y() - 14, origin.x() + 80, origin.y() + 2, 200);
    }

    TestShadowLights shadowLights;
    LightModule node;
};

TEST_F(LightModuleDrawing, FaultyModuleBlinksRedAndShowsItsFaults)
{
    const auto faulty = module(LightModuleRecord::kFaultCommunication | LightModuleRecord::kFaultAxisX, 500, 1000);
    const QImage lit = drawModule(faulty, 2.5f);
    const QColor red = ledColor(lit);
    EXPECT_GT(red.red(), 200);
    EXPECT_LT(red.green(), red.red() - 100);
    EXPECT_GT(labelPixels(lit), 15) << "\" COM X-AX\" next to the module";

    const QColor dark = ledColor(drawModule(faulty, 3.5f));
    EXPECT_LT(dark.red(), 110);
    EXPECT_LT(std::abs(dark.red() - dark.green()), 20) << "the unlit LED is grey, not red";
}

TEST_F(LightModuleDrawing, ModuleInOrderGlowsAtItsIntensity)
{
    const QImage half = drawModule(module(LightModuleRecord::kStatusOk, 500, 1000), 2.5f);
    EXPECT_EQ(node.ledNode()->defaultMaterial()->emission, Vec4(0.5f, 0.5f, 0.5f, 1.0f));
    const QColor halfColor = ledColor(half);

    const QColor full = ledColor(drawModule(module(LightModuleRecord::kStatusOk, 1000, 1000), 2.5f));
    const QColor off = ledColor(drawModule(module(LightModuleRecord::kStatusOk, 0, 1000), 2.5f));
    // The emission adds to the lit surface: half of full power lies half-way in 0..255 steps.
    EXPECT_NEAR(halfColor.green() - off.green(), 0.5 * 255, 20);
    EXPECT_GT(full.green(), halfColor.green() + 40);
    EXPECT_LT(std::abs(halfColor.red() - halfColor.blue()), 10) << "a module in order glows white";
}

// A dark LED (intensity 0): any white near the module is the label.
TEST_F(LightModuleDrawing, ModuleInOrderIsLabelledOnlyWithTheBrightnessTextSwitchedOn)
{
    node.setBrightnessTextEnabled(true);
    EXPECT_GT(labelPixels(drawModule(module(LightModuleRecord::kStatusOk, 0, 1000), 0.0f)), 5) << "\"0\"";
    node.setBrightnessTextEnabled(false);
    EXPECT_EQ(labelPixels(drawModule(module(LightModuleRecord::kStatusOk, 0, 1000), 0.0f)), 0);
}

} // namespace
