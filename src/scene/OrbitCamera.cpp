#include "scene/OrbitCamera.h"

#include <algorithm>
#include <cmath>

namespace tavorin {

namespace {
constexpr Vec4 kCameraZ = Vec4::direction(0.0f, 0.0f, 1.0f);
constexpr Vec4 kWorldUp = Vec4::direction(0.0f, 1.0f, 0.0f);
} // namespace

OrbitCamera::OrbitCamera()
{
    std::lock_guard<std::mutex> lock(mutex);
    recomputePose();
}

void OrbitCamera::recomputePose()
{
    const float horizontal = std::fabs(std::cos(pitchValue));
    // From the target to the eye.
    const Vec4 d = Vec4::direction(std::sin(yawValue) * horizontal, std::sin(pitchValue),
                                   -std::cos(yawValue) * horizontal);
    Mat4 pose = alignDirection(kCameraZ, d, kWorldUp);
    pose.m[12] = targetValue.x + distanceValue * d.x;
    pose.m[13] = targetValue.y + distanceValue * d.y;
    pose.m[14] = targetValue.z + distanceValue * d.z;
    camera.pose = pose;
}

void OrbitCamera::setPointer(int x, int y)
{
    std::lock_guard<std::mutex> lock(mutex);
    lastX = static_cast<float>(x);
    lastY = static_cast<float>(y);
    recomputePose();
}

void OrbitCamera::drag(int x, int y)
{
    std::lock_guard<std::mutex> lock(mutex);
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    yawValue += (fx - lastX) / sensitivity;
    pitchValue = std::clamp(pitchValue + (fy - lastY) / sensitivity, -kPitchLimit, kPitchLimit);
    lastX = fx;
    lastY = fy;
    recomputePose();
}

void OrbitCamera::zoom(float factor)
{
    std::lock_guard<std::mutex> lock(mutex);
    distanceValue = std::min(std::max(distanceValue * factor, camera.nearPlane), camera.farPlane);
    recomputePose();
}

void OrbitCamera::setTarget(const Vec4& p)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!(p != targetValue))
        return;
    targetValue = p;
    recomputePose();
}

Mat4 OrbitCamera::view() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return camera.view();
}

Mat4 OrbitCamera::projection(int width, int height) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return camera.projection(width, height);
}

} // namespace tavorin
