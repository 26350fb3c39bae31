#pragma once

#include "scene/Composite3D.h"

#include <memory>
#include <vector>

namespace tavorin {

class SensorTubus;
struct HeightMapRecord;
struct LightModuleRecord;

// The target the light modules are aimed at: owns the sensor tubus as its only child, and hands
// it the light target (the height map of the captured area) and the module records each frame.
// The scene poses it at a tube record. Render thread only.
class LightTargetVisualizer : public Composite3D {
public:
    LightTargetVisualizer();
    ~LightTargetVisualizer() override;

    // Call after updateTransform: the tubus's sensor point becomes this node's world position.
    void setLightTarget(std::shared_ptr<HeightMapRecord> record);
    void setLights(const std::vector<std::shared_ptr<LightModuleRecord>>& lights);

    const std::shared_ptr<SensorTubus>& tubus() const { return tube; }

private:
    std::shared_ptr<SensorTubus> tube;
};

} // namespace tavorin
