#include "light/SingleLightEnablerOptimizer.h"

#include "scene/LightModuleRecord.h"
#include "scene/SceneState.h"

#include <gtest/gtest.h>

#include <memory>

using tavorin::LightModuleRecord, tavorin::runTimed, tavorin::SceneState, tavorin::SingleLightEnablerOptimizer;

namespace {

std::shared_ptr<LightModuleRecord> module(float intensity, float maxIntensity)
{
    auto light = std::make_shared<LightModuleRecord>();
    light->intensity = intensity;
    light->targetIntensity = -1.0f;
    light->maxIntensity = maxIntensity;
    return light;
}

} // namespace

TEST(LightSingleEnabler, OnlyTheSelectedModuleIsRequested)
{
    SceneState state;
    SingleLightEnablerOptimizer optimizer;
    runTimed(optimizer, state); // an empty list: nothing to do
    EXPECT_GT(optimizer.endStampNs, 0);

    state.lights = {module(0.2f, 0.5f), module(0.3f, 0.8f), module(0.4f, 1.0f)};
    optimizer.selectedIndex = 2;
    runTimed(optimizer, state);
    EXPECT_EQ(0.0f, state.lights[0]->targetIntensity);
    EXPECT_EQ(0.0f, state.lights[1]->targetIntensity);
    EXPECT_EQ(1.0f, state.lights[2]->targetIntensity);
    EXPECT_EQ(0.2f, state.lights[0]->intensity) << "the current intensity is not the optimizer's";
    EXPECT_EQ(0.4f, state.lights[2]->intensity);

    for (int none : {-1, 3, -7}) {
        optimizer.selectedIndex = none;
        runTimed(optimizer, state);
        for (const auto& light : state.lights)
            EXPECT_EQ(0.0f, light->targetIntensity) << "selectedIndex " << none;
    }
}
