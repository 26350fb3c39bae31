#pragma once

#include "math/Mat4.h"

#include <array>
#include <cstdint>

namespace tavorin {

class ShadowMap;

// What every node sees of the current frame. Owned by the scene; render thread only.
struct RenderContext {
    Mat4 projection;
    Mat4 view;
    std::int32_t width = 0;  // viewport, pixels
    std::int32_t height = 0; // viewport, pixels
    float time = 0.0f;       // seconds, advanced by 1/60 per frame
    // The scene's shadow maps, bound by every mesh program on units 5 to 8; null entries are
    // skipped (a context without a scene, as in tests of single nodes). Non-owning.
    std::array<const ShadowMap*, 4> shadowMaps{};
};

} // namespace tavorin
