#pragma once

#include "light/Processor.h"

// A strategy that sets the target intensity of every light module record of the state.
class LightIntensityOptimizer : public Processor {
protected:
    ~LightIntensityOptimizer() = default;
};
