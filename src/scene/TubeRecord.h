#pragma once

#include "math/Mat4.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tavorin {

// A point on a sensor tube, relative to the tube's transform.
struct TubeSamplePoint {
    std::int32_t id = 0;
    Mat4 transform;
};

// What the tube's display node keeps of its size; the tube parameter action updates it too.
struct TubeDisplay {
    float depth = 0.0f;    // metres
    float diameter = 0.0f; // metres
};

// One sensor tube of the light planner, held in SceneState::tubes; tube frame to room.
struct TubeRecord {
    std::int32_t id = 0;
    Mat4 transform; // origin = centre of the tube opening, room coordinates
    std::vector<std::shared_ptr<TubeSamplePoint>> samplePoints;
    float depth = 0.0f;    // metres
    float diameter = 0.0f; // metres
    std::int32_t gridHalfSize = 0;
    std::shared_ptr<TubeDisplay> display; // may be null
};

} // namespace tavorin
