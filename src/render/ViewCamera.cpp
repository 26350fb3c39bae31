#include "render/ViewCamera.h"

#include <cmath>

namespace tavorin {

namespace {
constexpr float kDegreesToRadians = 0.017453292f;
constexpr float kMinNear = 0.0001f;       // metres
constexpr float kMinDepthRange = 0.0001f; // metres
} // namespace

ViewCamera::ViewCamera(float near, float far, float fovDegrees)
    : nearPlane(near), farPlane(far), fov(fovDegrees * kDegreesToRadians)
{
}

Mat4 ViewCamera::projection(int width, int height) const
{
    const float n = std::max(nearPlane, kMinNear);
    const float f = std::max(farPlane, n + kMinDepthRange);
    const float h = std::cos(fov / 2.0f) / std::sin(fov / 2.0f);
    const float w = h / (static_cast<float>(width) / static_cast<float>(height));
    Mat4 m;
    m.m.fill(0.0f);
    m.at(0, 0) = w;
    m.at(1, 1) = h;
    m.at(2, 2) = -(f + n) / (f - n);
    m.at(2, 3) = -1.0f;
    m.at(3, 2) = -2.0f * f * n / (f - n);
    return m;
}

Mat4 ViewCamera::view() const
{
    return inverse(pose);
}

} // namespace tavorin
