#pragma once

#include "render/ViewCamera.h"

#include <mutex>

namespace tavorin {

// The view camera of the viewport, orbiting a target point. Pointer input writes it on the GUI
// thread while the render thread reads view() and sets the target every frame: every operation
// takes the camera's own small lock, so a reader always sees one consistent pose.
class OrbitCamera {
public:
    static constexpr float kInitialYaw = -1.5707964f;  // radians
    static constexpr float kPitchLimit = 1.5550884f;   // radians, 89.1 degrees
    static constexpr float kSensitivity = 200.0f;      // pointer pixels per radian
    static constexpr float kInitialDistance = 5.0f;    // metres
    static constexpr Vec4 kInitialTarget = Vec4::point(0.0f, 1.1f, 0.0f);

    OrbitCamera();

    void setPointer(int x, int y);
    // Turns by the pointer movement since the last press or drag.
    void drag(int x, int y);
    // Eye distance times factor, kept within near .. far.
    void zoom(float factor);
    // Recomputes the pose only when p differs from the target in any component.
    void setTarget(const Vec4& p);

    Mat4 view() const;
    Mat4 projection(int width, int height) const;

    Mat4 pose() const { return locked(camera.pose); }
    Vec4 target() const { return locked(targetValue); }
    float yaw() const { return locked(yawValue); }
    float pitch() const { return locked(pitchValue); }
    float distance() const { return locked(distanceValue); }

private:
    void recomputePose(); // caller holds mutex
    // A copy of one field, taken under the lock.
    template <typename T>
    T locked(const T& field) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return field;
    }

    mutable std::mutex mutex;
    ViewCamera camera;
    float yawValue = kInitialYaw;
    float pitchValue = 0.0f;
    float lastX = 0.0f;
    float lastY = 0.0f;
    float sensitivity = kSensitivity;
    Vec4 targetValue = kInitialTarget;
    float distanceValue = kInitialDistance;
};

} // namespace tavorin
