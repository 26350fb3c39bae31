#include "sample_scene/SampleFurniture.h"

#include <Eigen/Geometry>

#include <cmath>
#include <limits>

namespace sample_scene {

namespace {

constexpr double kDegree = M_PI / 180.0;
constexpr double kWallDistance = 2.8;
constexpr double kWallHalfThickness = 0.05;
constexpr double kWallHeight = 2.9;
constexpr double kWallHalfLength = 3.0;
const FloorBox kTable{{0.0, 0.0}, {0.3, 1.0, 1.0}, 0.0, {{190.0, 185.0, 175.0}}};
constexpr double kPushedAsideM = 0.3;
constexpr double kPushedTurnDeg = 12.0;
constexpr double kWalkSpeed = 0.8; // metres per second

} // namespace

bool intersectBox(const FloorBox& box, const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                  SurfaceHit& hit, double& cosIncidence)
{
    const Eigen::Matrix3d R_box_room = Eigen::AngleAxisd(-box.yaw, Eigen::Vector3d::UnitY()).toRotationMatrix();
    const Eigen::Vector3d centre(box.footprintCentre.x(), box.halfSize.y() / 2.0, box.footprintCentre.y());
    const Eigen::Vector3d o = R_box_room * (origin - centre);
    const Eigen::Vector3d d = R_box_room * direction;
    const Eigen::Vector3d half(box.halfSize.x(), box.halfSize.y() / 2.0, box.halfSize.z());
    double near = -std::numeric_limits<double>::infinity();
    double far = std::numeric_limits<double>::infinity();
    int face = -1;
    for (int a = 0; a < 3; ++a) {
        if (d(a) == 0.0) {
            if (std::abs(o(a)) > half(a))
                return false;
            continue;
        }
        double t0 = (-half(a) - o(a)) / d(a);
        double t1 = (half(a) - o(a)) / d(a);
        if (t0 > t1)
            std::swap(t0, t1);
        if (t0 > near) {
            near = t0;
            face = a;
        }
        far = std::min(far, t1);
    }
    if (!(near <= far) || near <= 0.0 || face < 0)
        return false;
    hit.t = near;
    cosIncidence = std::abs(d(face)) / d.norm();
    constexpr double kAmbient = 0.35;
    const double s = kAmbient + (1.0 - kAmbient) * cosIncidence;
    for (int i = 0; i < 3; ++i)
        hit.bgr[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::lround(std::min(255.0, box.bgr[static_cast<std::size_t>(i)] * s)));
    return true;
}

std::vector<FloorBox> furnishedRoom()
{
    const std::array<double, 3> wall{{200.0, 205.0, 210.0}};
    const std::array<double, 3> steel{{170.0, 170.0, 175.0}};
    return {
        {{kWallDistance, 0.0}, {kWallHalfThickness, kWallHeight, kWallHalfLength}, 0.0, wall},
        {{-kWallDistance, 0.0}, {kWallHalfThickness, kWallHeight, kWallHalfLength}, 0.0, wall},
        {{0.0, kWallDistance}, {kWallHalfLength, kWallHeight, kWallHalfThickness}, 0.0, wall},
        {{0.0, -kWallDistance}, {kWallHalfLength, kWallHeight, kWallHalfThickness}, 0.0, wall},
        {{-1.7, -1.2}, {0.45, 1.9, 0.25}, 35.0 * kDegree, {{120.0, 140.0, 160.0}}},  // cabinet
        {{1.5, 1.1}, {0.35, 0.9, 0.25}, -20.0 * kDegree, steel},                      // trolley
        {{1.4, -1.3}, {0.3, 1.0, 0.3}, 50.0 * kDegree, steel},                        // trolley
        {{-1.3, 1.4}, {0.5, 0.8, 0.3}, 10.0 * kDegree, {{140.0, 160.0, 150.0}}},    // side table
        kTable,
    };
}

FloorBox pushedTable()
{
    FloorBox table = kTable;
    table.footprintCentre.x() += kPushedAsideM;
    table.yaw = kPushedTurnDeg * kDegree;
    return table;
}

FloorBox walkingPerson(double seconds)
{
    constexpr double kStartX = -2.2;
    constexpr double kPathZ = 0.9;
    const double x = kStartX + std::fmod(kWalkSpeed * std::max(0.0, seconds), 2.0 * -kStartX);
    return FloorBox{{x, kPathZ}, {0.25, 1.75, 0.15}, 0.0, {{90.0, 110.0, 150.0}}};
}

} // namespace sample_scene
