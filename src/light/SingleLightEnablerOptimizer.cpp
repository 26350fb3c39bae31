#include "light/SingleLightEnablerOptimizer.h"

#include "scene/LightModuleRecord.h"
#include "scene/SceneState.h"

namespace tavorin {

void SingleLightEnablerOptimizer::process(SceneState& state)
{
    for (std::size_t i = 0; i < state.lights.size(); ++i) {
        LightModuleRecord& light = *state.lights[i];
        const bool selected = selectedIndex >= 0 && static_cast<std::size_t>(selectedIndex) == i;
        light.targetIntensity = selected ? light.maxIntensity : 0.0f;
    }
}

} // namespace tavorin
