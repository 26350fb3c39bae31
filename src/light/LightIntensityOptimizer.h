#pragma once

#include "base/Processor.h"

namespace tavorin {

// A light-intensity strategy: process() sets the target intensity of every module record in
// state.lights.
class LightIntensityOptimizer : public Processor {
protected:
    ~LightIntensityOptimizer() = default;
};

} // namespace tavorin
