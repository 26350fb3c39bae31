#pragma once

#include "math/Mat4.h"

#include <cstdint>

namespace tavorin {

// One light module of the light planner (lamp with two motor axes and an LED), held by shared
// pointer in SceneState::lights. Render thread only; nothing in the program creates these yet.
struct LightModuleRecord {
    // Bits of `status` other than kStatusOk, each naming a faulty part.
    static constexpr std::uint16_t kStatusOk = 1;
    static constexpr std::uint16_t kFaultCommunication = 2;
    static constexpr std::uint16_t kFaultGenerator = 4;
    static constexpr std::uint16_t kFaultAxisX = 8;
    static constexpr std::uint16_t kFaultAxisY = 16;
    static constexpr std::uint16_t kFaultLed = 32;

    std::int32_t id = 0;
    Mat4 transform; // module mount -> room; its translation is the module position (metres)
    Mat4 aiming;    // applied after transform; its image of (0, -1, 0, 0) is the light direction
    float axisXAngle = 0.0f; // motor positions of the two axes, radians
    float axisYAngle = 0.0f;
    float intensity = 0.0f;       // current intensity, what the display shows
    float targetIntensity = 0.0f; // requested by the light optimizer
    float maxIntensity = 0.0f;    // intensity at full power
    std::uint16_t status = kStatusOk;
};

} // namespace tavorin
