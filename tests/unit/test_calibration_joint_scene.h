// Synthetic scenes for the joint estimate: cameras (pose, depth error, which plate positions they
// see), plate poses, and what each camera's lattice search reports of them; for its tests and
// its benchmark.
#pragma once

#include "calibration/joint/JointCalibration.h"
#include "math/Mat4.h"

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace joint_scene {

using tavorin::DepthCorrection, tavorin::JointCalibration, tavorin::JointEstimate, tavorin::LatticeDetectionResult,
    tavorin::Mat4, tavorin::Vec4;

constexpr float kPitch = 0.08f;

// A camera of a scene: where it stands (camera -> room), its sensor's error, and which plate
// positions it sees.
struct SceneCamera {
    Mat4 T_room_camera;
    DepthCorrection error;
    std::function<bool(const Mat4& T_room_plate)> sees;
};

// A camera at `position` looking at `target` (its z axis along the view, y up as far as it goes).
inline Mat4 lookingAt(const Vec4& position, const Vec4& target)
{
    const Vec4 z = tavorin::normalize(target - position);
    const Vec4 x = tavorin::normalize(tavorin::cross(Vec4::direction(0, 1, 0), z));
    const Vec4 y = tavorin::cross(z, x);
    return Mat4::fromAxes(x, y, z, position);
}

// The plate's pose: centre, turned by `yaw` about the room's y and tilted by `tilt` about its own x,
// facing the cameras' side (-z of the room) with its handle (x) along the room's x.
inline Mat4 platePose(const Vec4& centre, float yaw, float tilt)
{
    return translate(rotate(rotate(Mat4(), tilt, tavorin::AxisX), yaw, tavorin::AxisY), centre.x, centre.y, centre.z);
}

// What a camera's lattice search reports: every hole as the sensor measures it (range stretched by
// its error, Gaussian noise), the plate's axes in the camera, the normal toward the camera.
inline LatticeDetectionResult detect(const SceneCamera& camera, const Mat4& T_room_plate, std::mt19937& rng, float noiseM)
{
    std::normal_distribution<float> noise(0.0f, noiseM);
    const Mat4 T_camera_plate = tavorin::inverse(camera.T_room_camera) * T_room_plate;
    const auto measured = [&](const Vec4& q) {
        const float range = tavorin::length(q);
        const float factor = static_cast<float>(((1.0 + camera.error.scale) * range + camera.error.offsetMm / 1000.0) / range);
        return Vec4::point(q.x * factor + noise(rng), q.y * factor + noise(rng), q.z * factor + noise(rng));
    };
    LatticeDetectionResult result;
    result.found = true;
    for (int row = -2; row <= 2; ++row)
        for (int column = -2; column <= 2; ++column)
            result.holes.push_back(measured(T_camera_plate * Vec4::point(row * kPitch, column * kPitch, 0.0f)));
    result.origin = result.holes[12];
    result.primaryAxis = tavorin::normalize(T_camera_plate * Vec4::direction(1, 0, 0));
    Vec4 normal = tavorin::normalize(T_camera_plate * Vec4::direction(0, 0, 1));
    if (normal.z > 0.0f)
        normal = -normal;
    result.normal = normal;
    result.secondaryAxis = tavorin::cross(result.primaryAxis, normal);
    return result;
}

struct Scene {
    std::vector<SceneCamera> cameras;
    std::vector<Mat4> plates;
    float noiseM = 0.0003f; // per coordinate: the found holes' scatter, with margin
    std::function<void(std::size_t set, std::size_t camera, LatticeDetectionResult&)> spoil;
};

// Every plate pose as the cameras that see it report it, one frame set each; `removed`, per camera,
// the depth correction its source had taken out of the points it reports.
inline JointCalibration observeScene(const Scene& scene, const std::vector<DepthCorrection>& removed = {})
{
    std::mt19937 rng(7);
    JointCalibration joint(scene.cameras.size());
    for (std::size_t s = 0; s < scene.plates.size(); ++s) {
        std::vector<LatticeDetectionResult> set(scene.cameras.size());
        for (std::size_t c = 0; c < scene.cameras.size(); ++c) {
            if (!scene.cameras[c].sees(scene.plates[s]))
                continue;
            set[c] = detect(scene.cameras[c], scene.plates[s], rng, scene.noiseM);
            if (scene.spoil)
                scene.spoil(s, c, set[c]);
        }
        joint.addFrameSet(set, removed);
    }
    return joint;
}

inline JointEstimate solveScene(const Scene& scene)
{
    return observeScene(scene).solve();
}

} // namespace joint_scene
