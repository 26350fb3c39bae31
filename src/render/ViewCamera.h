#pragma once

#include "math/Mat4.h"

namespace tavorin {

// A perspective camera placed by its pose (camera -> room). Looks along its own -Z axis.
class ViewCamera {
public:
    static constexpr float kDefaultNear = 0.02f;     // metres
    static constexpr float kDefaultFar = 50.0f;      // metres
    static constexpr float kDefaultFovDegrees = 80.0f;

    ViewCamera() : ViewCamera(kDefaultNear, kDefaultFar, kDefaultFovDegrees) {}
    ViewCamera(float near, float far, float fovDegrees);

    // Right-handed perspective projection mapping depth to -1..1 for a viewport of that size.
    Mat4 projection(int width, int height) const;
    // Room -> camera; the identity when the pose is singular.
    Mat4 view() const;

    Mat4 pose;
    float nearPlane;
    float farPlane;
    float fov; // vertical, radians
};

} // namespace tavorin
