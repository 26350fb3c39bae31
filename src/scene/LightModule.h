#pragma once

#include "math/Vec4.h"
#include "scene/Composite3D.h"

#include <memory>
#include <string>

namespace tavorin {

class Cylinder;
struct LightModuleRecord;

// One light module of the planner: a housing with an LED disc below it whose glow is the
// module's relative intensity, or a red blink (one second on, one off) while the module reports a
// fault, and a text label at its screen position naming the faulty parts. The scene reuses one
// node for every record: it sets the record and the local matrix (transform x aiming) before each
// draw. Render thread only.
class LightModule : public Composite3D {
public:
    static constexpr float kLabelFontSize = 11.0f; // pixels

    LightModule();
    ~LightModule() override;

    // Null draws nothing.
    void setRecord(std::shared_ptr<LightModuleRecord> record) { module = std::move(record); }
    // Whether a module in order shows its intensity as its label.
    void setBrightnessTextEnabled(bool enabled) { brightnessText = enabled; }
    void draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl) override;

    // LED emission: grey at the relative intensity when in order, else red or dark by the
    // second of time (seconds).
    static Vec4 ledEmission(const LightModuleRecord& record, float time);
    // The fault texts of the status bits, in bit order; for a module in order its truncated
    // intensity when brightnessText is set, otherwise empty.
    static std::string label(const LightModuleRecord& record, bool brightnessText);

    const std::shared_ptr<Cylinder>& ledNode() const { return led; }

private:
    std::shared_ptr<Composite3D> head;
    std::shared_ptr<Cylinder> led;
    std::shared_ptr<LightModuleRecord> module;
    bool brightnessText = false;
};

} // namespace tavorin
