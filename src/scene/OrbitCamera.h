#pragma once

#include "render/ViewCamera.h"

#include <mutex>

namespace tavorin {

// The view camera of the viewport, orbiting a target point. Pointer input writes it on the GUI
// thread while the render thread reads view() and sets the viewport size every frame: every
// operation takes the camera's own small lock, so a reader always sees one consistent pose.
class OrbitCamera {
public:
    static constexpr float kInitialYaw = -1.5707964f;  // radians
    static constexpr float kPitchLimit = 1.5550884f;   // radians, 89.1 degrees
    static constexpr float kSensitivity = 200.0f;      // pointer pixels per radian
    static constexpr float kInitialDistance = 5.0f;    // metres
    static constexpr Vec4 kInitialTarget = Vec4::point(0.0f, 0.0f, 0.0f); // the room origin
    // The orbit distance stays within these, metres: near enough to read a plate's holes, far
    // enough to see a whole room and its cameras.
    static constexpr float kMinDistance = 0.1f;
    static constexpr float kMaxDistance = 30.0f;
    // One wheel notch (120 units of angle delta) brings the eye this fraction of its distance
    // nearer; a notch the other way undoes it.
    static constexpr float kZoomStep = 0.15f;
    static constexpr float kWheelNotch = 120.0f;
    // Until the first frame sets it: the viewport of the 1280 x 720 window, pixels.
    static constexpr int kDefaultViewportWidth = 960;
    static constexpr int kDefaultViewportHeight = 720;

    OrbitCamera();

    void setPointer(int x, int y);
    // Turns by the pointer movement since the last press, drag or pan.
    void drag(int x, int y);
    // Moves the target in the view plane by the pointer movement since the last press, drag or
    // pan, so that a point at the target's depth stays under the pointer.
    void pan(int x, int y);
    // Eye distance times factor, kept within kMinDistance .. kMaxDistance; a factor that is not a
    // finite positive number does nothing.
    void zoom(float factor);
    // Wheel notches (positive: toward the target), each a fixed share of the current distance;
    // a non-finite count does nothing.
    void zoomNotches(float notches);
    // Recomputes the pose only when p differs from the target in any component.
    void setTarget(const Vec4& p);
    // Back to the start pose: target, distance, yaw and pitch.
    void reset();
    // Keeps the direction of view and centres the box lo .. hi (room coordinates, metres), at the
    // distance at which its bounding sphere fills the viewport; a box with a non-finite corner or
    // lo above hi does nothing.
    void frame(const Vec4& lo, const Vec4& hi);
    // Render thread, every frame: the viewport that pan() and frame() measure against, pixels.
    void setViewportSize(int width, int height);

    Mat4 view() const;
    Mat4 projection(int width, int height) const;

    Mat4 pose() const { return locked(camera.pose); }
    Vec4 target() const { return locked(targetValue); }
    float yaw() const { return locked(yawValue); }
    float pitch() const { return locked(pitchValue); }
    float distance() const { return locked(distanceValue); }

private:
    void recomputePose(); // caller holds mutex
    // Distance times factor, kept within kMinDistance .. kMaxDistance; caller holds mutex.
    void scaleDistance(float factor);
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
    int viewportWidth = kDefaultViewportWidth;
    int viewportHeight = kDefaultViewportHeight;
};

} // namespace tavorin
