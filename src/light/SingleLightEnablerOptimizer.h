#pragma once

#include "light/LightIntensityOptimizer.h"

#include <cstdint>

namespace tavorin {

// Requests the selected module at its maximum intensity and every other module off.
class SingleLightEnablerOptimizer : public LightIntensityOptimizer {
public:
    void process(SceneState& state) override;

    std::int32_t selectedIndex = -1; // index into state.lights; -1: none
};

} // namespace tavorin
