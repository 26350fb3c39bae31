#pragma once

#include "math/Mat4.h"

#include <cstdint>

// One light module of the planner, held in SceneState::lights in module index order.
struct LightModuleRecord {
    // Status value of a module in order; anything else is a set of the fault bits below.
    static constexpr std::uint16_t kStatusOk = 1;
    static constexpr std::uint16_t kFaultCom = 2;
    static constexpr std::uint16_t kFaultGen = 4;
    static constexpr std::uint16_t kFaultXAxis = 8;
    static constexpr std::uint16_t kFaultYAxis = 16;
    static constexpr std::uint16_t kFaultLed = 32;

    std::int32_t id = 0;
    Mat4 transform;            // module mount -> room; its translation is the module position
    Mat4 aiming;               // applied after transform; its image of (0, -1, 0, 0) is the light direction
    float motor1 = 0.0f;       // X axis position, radians
    float motor2 = 0.0f;       // Y axis position, radians
    float intensity = 0.0f;    // current intensity
    float targetIntensity = 0.0f; // requested by the light optimizer
    float maxIntensity = 0.0f; // intensity at full power
    std::uint16_t status = kStatusOk;
};
