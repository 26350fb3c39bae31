#include "sample_scene/SampleCameraCeiling.h"

#include <Eigen/Geometry>

#include <cmath>

namespace sample_scene {

namespace {

constexpr double kDegree = M_PI / 180.0;
// The ring of cameras: 2.3 m from the table's centre, 3.0 to 3.1 m above the floor, so that each is
// about 3 m from the plate; a little irregular, as mounts in a real room are.
constexpr double kRingRadius = 2.3;
constexpr double kMountHeights[kMaxCameras] = {3.05, 3.00, 3.10, 3.05, 2.95, 3.10, 3.00, 3.05};
constexpr double kAzimuthJitterDeg[kMaxCameras] = {0.0, 4.0, -3.0, 6.0, -5.0, 2.0, -4.0, 3.0};
constexpr double kPlateHeight = 1.2; // above the floor: the table top, 1.0 m, and a hand's width
constexpr double kAimHeight = 1.1;

} // namespace

CameraPose ceilingCameraPose(int index, int count)
{
    const double azimuth = (360.0 * index / count + kAzimuthJitterDeg[index]) * kDegree;
    const Eigen::Vector3d position(kRingRadius * std::sin(azimuth), kMountHeights[index],
                                   kRingRadius * std::cos(azimuth));
    return aimedPose(position, Eigen::Vector3d(0.0, kAimHeight, 0.0));
}

PlatePose ceilingPlateAt(double seconds, double period)
{
    const double phase = 2.0 * M_PI * seconds / period;
    // A figure of two by three loops over the table: its speed and direction change all the time.
    constexpr double kAlongX = 0.32, kAlongZ = 0.24, kBob = 0.08; // metres
    const Eigen::Vector3d centre(kAlongX * std::sin(2.0 * phase), kPlateHeight + kBob * std::sin(3.0 * phase + 0.5),
                                 kAlongZ * std::sin(3.0 * phase + 1.0));
    // Front up, tilted by 8 to 28 degrees toward a side that goes round the room once per pass,
    // and turned within its plane at 25 degrees per second.
    const double tiltToward = phase + 0.3;
    const double tilt = (18.0 + 10.0 * std::sin(5.0 * phase)) * kDegree;
    const double turn = 25.0 * kDegree * seconds;
    const Eigen::Matrix3d R = (Eigen::AngleAxisd(tiltToward, Eigen::Vector3d::UnitY())
                               * Eigen::AngleAxisd(tilt, Eigen::Vector3d::UnitX())
                               * Eigen::AngleAxisd(-0.5 * M_PI, Eigen::Vector3d::UnitX())
                               * Eigen::AngleAxisd(turn, Eigen::Vector3d::UnitZ()))
                                  .toRotationMatrix();
    return PlatePose::at(centre, R);
}

} // namespace sample_scene
