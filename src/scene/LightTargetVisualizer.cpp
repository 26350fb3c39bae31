#include "scene/LightTargetVisualizer.h"

#include "scene/HeightMapRecord.h"
#include "scene/LightModuleRecord.h"
#include "scene/SensorTubus.h"

namespace tavorin {

LightTargetVisualizer::LightTargetVisualizer() : tube(std::make_shared<SensorTubus>())
{
    // Until the first tube record sizes it: 0.05 m across, 0.075 m deep.
    tube->scale(0.05f, 0.075f, 0.05f);
    tube->setColor(0.0f, 0.0f, 1.0f, 1.0f);
    addChild(tube);
}

LightTargetVisualizer::~LightTargetVisualizer() = default;

void LightTargetVisualizer::setLightTarget(std::shared_ptr<HeightMapRecord> record)
{
    tube->setLightTarget(std::move(record));
    tube->setSensorPoint(worldPosition());
}

void LightTargetVisualizer::setLights(const std::vector<std::shared_ptr<LightModuleRecord>>& lights)
{
    // Null entries are dropped: the light uniforms read every entry they are given.
    auto& list = tube->lights();
    list.clear();
    for (const auto& light : lights)
        if (light)
            list.push_back(light);
}

} // namespace tavorin
