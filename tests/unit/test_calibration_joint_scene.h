// Synthetic scenes for the joint estimate: cameras (pose, depth error, which plate positions they
// see), plate poses, and what each camera's lattice search reports of them; for its tests and
// its benchmark.
#pragma once

#include "calibration/joint/JointCalibration.h"
#include "math/Mat4.h"

#include <cmath>
#include <functional>
#include <optional>
#include <random>
#include <vector>

namespace joint_scene {

using tavorin::DepthCorrection, tavorin::JointCalibration, tavorin::JointEstimate, tavorin::LatticeDetectionResult,
    tavorin::Mat4, tavorin::Vec4;

constexpr float kPitch = 0.08f;

// A camera of a scene: where it stands (camera -> room), its sensor's error, which plate
// positions it sees, and how far its stamps are ahead of camera 0's clock.
struct SceneCamera {
    Mat4 T_room_camera;
    DepthCorrection error;
    std::function<bool(const Mat4& T_room_plate)> sees;
    double clockOffsetS = 0.0;
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
    std::vector<Mat4> plates; // one per frame set, all cameras seeing it at once, without instants
    // Or the plate's path (seconds -> pose) and the number of frame sets, 30 a second on camera
    // 0's clock: each camera sees the plate at the set's instant less its clock offset.
    std::function<Mat4(double seconds)> path;
    std::size_t pathSets = 0;
    float noiseM = 0.0003f; // per coordinate: the found holes' scatter, with margin
    std::function<void(std::size_t set, std::size_t camera, LatticeDetectionResult&)> spoil;
};

// One frame set as the cameras report it, and its instant on camera 0's clock (none for `plates`).
struct ObservedSet {
    std::optional<double> t;
    std::vector<LatticeDetectionResult> detections;
};

inline std::vector<ObservedSet> observeSets(const Scene& scene)
{
    constexpr double kFramePeriodS = 1.0 / 30.0;
    std::mt19937 rng(7);
    const std::size_t count = scene.path ? scene.pathSets : scene.plates.size();
    std::vector<ObservedSet> sets;
    for (std::size_t s = 0; s < count; ++s) {
        ObservedSet set;
        set.detections.resize(scene.cameras.size());
        if (scene.path)
            set.t = static_cast<double>(s) * kFramePeriodS;
        for (std::size_t c = 0; c < scene.cameras.size(); ++c) {
            const Mat4 plate = scene.path ? scene.path(*set.t - scene.cameras[c].clockOffsetS) : scene.plates[s];
            if (!scene.cameras[c].sees(plate))
                continue;
            set.detections[c] = detect(scene.cameras[c], plate, rng, scene.noiseM);
            if (scene.spoil)
                scene.spoil(s, c, set.detections[c]);
        }
        sets.push_back(std::move(set));
    }
    return sets;
}

// `removed`, per camera, the depth correction its source had taken out of the points it reports.
inline JointCalibration calibrationOf(const std::vector<ObservedSet>& sets, std::size_t cameras,
                                      const std::vector<DepthCorrection>& removed = {})
{
    JointCalibration joint(cameras);
    for (const ObservedSet& set : sets)
        joint.addFrameSet(set.detections, removed, set.t);
    return joint;
}

// The same sets without their instants, as records without capture times give them.
inline JointCalibration calibrationWithoutInstants(const std::vector<ObservedSet>& sets, std::size_t cameras)
{
    JointCalibration joint(cameras);
    for (const ObservedSet& set : sets)
        joint.addFrameSet(set.detections);
    return joint;
}

// Every plate pose as the cameras that see it report it, one frame set each; `removed` as above.
inline JointCalibration observeScene(const Scene& scene, const std::vector<DepthCorrection>& removed = {})
{
    return calibrationOf(observeSets(scene), scene.cameras.size(), removed);
}

// Eight cameras on a circle of 2.2 m round the work spot, 2.1 m up, each with a depth error of
// its own; a camera sees the plate when it faces it within 60 degrees, from either side.
inline std::vector<SceneCamera> eightAround()
{
    constexpr int kCameras = 8;
    std::vector<SceneCamera> cameras;
    for (int c = 0; c < kCameras; ++c) {
        const float angle = 2.0f * 3.14159265f * static_cast<float>(c) / kCameras;
        SceneCamera camera;
        const Vec4 position = Vec4::point(2.2f * std::sin(angle), 2.1f, -2.2f * std::cos(angle));
        camera.T_room_camera = lookingAt(position, Vec4::point(0.0f, 1.0f, 0.0f));
        camera.error = DepthCorrection{2.0 * (c % 3) - 2.0, 0.0004 * ((c % 5) - 2)};
        camera.sees = [position](const Mat4& plate) {
            const Vec4 toCamera = tavorin::normalize(position - plate.translation());
            const Vec4 normal = tavorin::normalize(plate * Vec4::direction(0, 0, -1));
            return std::fabs(tavorin::dot(toCamera, normal)) > 0.5f;
        };
        cameras.push_back(camera);
    }
    return cameras;
}

// The plate waved briskly round the work spot (seconds -> pose): 0.8 m/s on average, its speed and
// direction changing all the time, turning about the vertical at 1.5 rad/s and tilting.
inline Mat4 briskPath(double seconds)
{
    const float t = static_cast<float>(seconds);
    const Vec4 centre = Vec4::point(0.3f * std::sin(2.1f * t), 1.0f + 0.15f * std::sin(3.3f * t),
                                    0.25f * std::sin(2.9f * t + 1.0f));
    return platePose(centre, 1.5f * t, 0.4f * std::sin(1.7f * t));
}

inline JointEstimate solveScene(const Scene& scene)
{
    return observeScene(scene).solve();
}

} // namespace joint_scene
