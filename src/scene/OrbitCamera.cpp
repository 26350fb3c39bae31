#include "scene/OrbitCamera.h"

#include <algorithm>
#include <cmath>

namespace tavorin {

namespace {
constexpr Vec4 kCameraZ = Vec4::direction(0.0f, 0.0f, 1.0f);
constexpr Vec4 kWorldUp = Vec4::direction(0.0f, 1.0f, 0.0f);

bool finitePoint(const Vec4& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}
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

void OrbitCamera::pan(int x, int y)
{
    std::lock_guard<std::mutex> lock(mutex);
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    // Metres per pixel in the plane through the target, facing the eye.
    const float metresPerPixel =
        2.0f * distanceValue * std::tan(camera.fov / 2.0f) / static_cast<float>(viewportHeight);
    const Mat4& pose = camera.pose;
    const Vec4 right = Vec4::direction(pose.at(0, 0), pose.at(0, 1), pose.at(0, 2));
    const Vec4 up = Vec4::direction(pose.at(1, 0), pose.at(1, 1), pose.at(1, 2));
    // The scene follows the pointer, so the target moves against it (pixel y grows downward).
    targetValue = targetValue - right * ((fx - lastX) * metresPerPixel) + up * ((fy - lastY) * metresPerPixel);
    lastX = fx;
    lastY = fy;
    recomputePose();
}

void OrbitCamera::zoom(float factor)
{
    if (!(std::isfinite(factor) && factor > 0.0f))
        return;
    std::lock_guard<std::mutex> lock(mutex);
    scaleDistance(factor);
}

void OrbitCamera::zoomNotches(float notches)
{
    if (!std::isfinite(notches))
        return;
    std::lock_guard<std::mutex> lock(mutex);
    scaleDistance(std::pow(1.0f - kZoomStep, notches)); // 0 or infinity for many notches: clamped
}

void OrbitCamera::scaleDistance(float factor)
{
    distanceValue = std::clamp(distanceValue * factor, kMinDistance, kMaxDistance);
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

void OrbitCamera::reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    yawValue = kInitialYaw;
    pitchValue = 0.0f;
    targetValue = kInitialTarget;
    distanceValue = kInitialDistance;
    recomputePose();
}

void OrbitCamera::frame(const Vec4& lo, const Vec4& hi)
{
    if (!finitePoint(lo) || !finitePoint(hi) || lo.x > hi.x || lo.y > hi.y || lo.z > hi.z)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    const float radius = length(hi - lo) / 2.0f;
    const float aspect = static_cast<float>(viewportWidth) / static_cast<float>(viewportHeight);
    const float halfVertical = camera.fov / 2.0f;
    const float halfHorizontal = std::atan(std::tan(halfVertical) * aspect);
    const float halfAngle = std::min(halfVertical, halfHorizontal);
    targetValue = Vec4::point((lo.x + hi.x) / 2.0f, (lo.y + hi.y) / 2.0f, (lo.z + hi.z) / 2.0f);
    distanceValue = std::clamp(radius / std::sin(halfAngle), kMinDistance, kMaxDistance);
    recomputePose();
}

void OrbitCamera::setViewportSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    viewportWidth = width;
    viewportHeight = height;
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
