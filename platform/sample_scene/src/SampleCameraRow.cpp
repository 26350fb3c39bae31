#include "sample_scene/SampleCameraRow.h"

#include <Eigen/Geometry>

#include <cmath>

namespace sample_scene {

namespace {

constexpr double kDegree = M_PI / 180.0;
constexpr double kCameraSpacing = 1.5; // along room x
// The walls are 3.4 m apart: near enough that the plate passes each camera about 1.35 m away, far
// enough that neighbours on opposite walls see a stretch of the path together.
constexpr double kWallZ = 1.7;
constexpr double kMountHeights[kMaxCameras] = {2.20, 2.30, 2.10, 2.25, 2.15, 2.30, 2.10, 2.20};
constexpr double kAimHeight = 1.2;

// Room x of camera `index`, the row centred on x = 0.
double cameraX(int index, int count)
{
    return (index - (count - 1) / 2.0) * kCameraSpacing;
}

// -1 for the cameras on the -z wall (even indices), +1 for those on the +z wall.
double wallSide(int index)
{
    return index % 2 == 0 ? -1.0 : 1.0;
}

// Where along room x the plate is, `progress` 0 to 1 of the way from one end of its path to the
// other: from beyond camera 0 to beyond the last camera.
double pathX(double progress, int count)
{
    constexpr double kBeyondEnd = 0.3;
    const double start = cameraX(0, count) - kBeyondEnd;
    const double end = cameraX(count - 1, count) + kBeyondEnd;
    return start + progress * (end - start);
}

// How far the plate is from the room's centre line at room x: toward the wall of the camera it
// passes, so that this camera sees it about 1.35 m away there and 2.6 m away as it leaves for the
// next camera's stretch; offset and scale of a range error differ that much. One weave spans two
// cameras, so every camera sees the same approach. A wider weave takes the plate so far from a
// wall that cameras two apart on it both see it whole.
double weaveZ(double x, int count)
{
    constexpr double kAmplitude = 0.55;
    return -kAmplitude * std::cos(M_PI * (x - cameraX(0, count)) / kCameraSpacing);
}

// The plate's front faces the -z wall, turned toward the cameras nearest along the room: those on
// the -z wall see its front, those on the +z wall its back, each about face-on as it passes.
Eigen::Vector3d facing(const Eigen::Vector3d& centre, int count)
{
    constexpr double kReach = 0.5; // along room x, metres
    Eigen::Vector3d sum = Eigen::Vector3d::Zero();
    for (int i = 0; i < count; ++i) {
        const double dx = cameraX(i, count) - centre.x();
        const Eigen::Vector3d towardWall = Eigen::Vector3d(dx, 0.0, -kWallZ - centre.z()).normalized();
        sum += std::exp(-(dx / kReach) * (dx / kReach)) * towardWall;
    }
    return sum.normalized();
}

} // namespace

CameraPose rowCameraPose(int index, int count)
{
    const double x = cameraX(index, count);
    return aimedPose(Eigen::Vector3d(x, kMountHeights[index], wallSide(index) * kWallZ),
                     Eigen::Vector3d(x, kAimHeight, 0.0));
}

PlatePose rowPlateAt(double seconds, double period, int count)
{
    constexpr double kChestHeight = 1.45;
    const double passes = seconds / period;
    const double pass = std::floor(passes);
    const bool outward = static_cast<long>(pass) % 2 == 0;
    const double progress = outward ? passes - pass : 1.0 - (passes - pass);
    const double x = pathX(progress, count);
    const auto sway = [seconds](double amplitude, double periodSeconds) {
        return amplitude * std::sin(2.0 * M_PI * seconds / periodSeconds);
    };

    // The operator's hands: the plate bobs, sways about the vertical, tilts and turns within its
    // plane, each on a period of its own (seconds) so that no pose comes back soon.
    constexpr double kBobM = 0.05, kBobPeriod = 1.7;
    constexpr double kSwayDeg = 10.0, kSwayPeriod = 3.1;
    constexpr double kTiltDeg = 8.0, kTiltPeriod = 2.2;
    constexpr double kTurnDeg = 25.0, kTurnPeriod = 2.9;

    PlatePose pose;
    pose.centre = Eigen::Vector3d(x, kChestHeight + sway(kBobM, kBobPeriod), weaveZ(x, count));
    const Eigen::Vector3d front = facing(pose.centre, count);
    const Eigen::Vector3d level = Eigen::Vector3d::UnitY().cross(front); // in-plane, horizontal
    const Eigen::Matrix3d R = (Eigen::AngleAxisd(sway(kSwayDeg * kDegree, kSwayPeriod), Eigen::Vector3d::UnitY())
                               * Eigen::AngleAxisd(sway(kTiltDeg * kDegree, kTiltPeriod), level)
                               * Eigen::AngleAxisd(sway(kTurnDeg * kDegree, kTurnPeriod), front))
                                  .toRotationMatrix();
    pose.u = R * level;
    pose.n = R * front;
    pose.v = pose.n.cross(pose.u);
    return pose;
}

} // namespace sample_scene
