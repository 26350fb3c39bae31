#include "sample_scene/SampleRoom.h"

#include <Eigen/Geometry>

#include <cmath>

namespace {

constexpr double kTileSize = 0.5;
constexpr double kGroutHalfWidth = 0.006;

std::array<std::uint8_t, 3> shade(std::array<double, 3> bgr, const Eigen::Vector3d& normal,
                                  const Eigen::Vector3d& direction)
{
    constexpr double kAmbient = 0.35;
    const double facing = std::abs(normal.dot(direction.normalized()));
    const double s = kAmbient + (1.0 - kAmbient) * facing;
    std::array<std::uint8_t, 3> out;
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<std::uint8_t>(std::lround(std::min(255.0, bgr[i] * s)));
    return out;
}

std::array<double, 3> floorColour(const Eigen::Vector3d& p)
{
    const double fx = p.x() / kTileSize - std::floor(p.x() / kTileSize);
    const double fz = p.z() / kTileSize - std::floor(p.z() / kTileSize);
    const double groutFraction = kGroutHalfWidth / kTileSize;
    if (fx < groutFraction || fx > 1.0 - groutFraction || fz < groutFraction || fz > 1.0 - groutFraction)
        return {105.0, 110.0, 110.0};
    const bool odd = (static_cast<long>(std::floor(p.x() / kTileSize)) + static_cast<long>(std::floor(p.z() / kTileSize))) & 1;
    return odd ? std::array<double, 3>{182.0, 190.0, 178.0} : std::array<double, 3>{170.0, 178.0, 168.0};
}

bool onPlateMaterial(double a, double b)
{
    const double half = SampleRoom::kPlateHalfSize;
    if (std::abs(a) <= half && std::abs(b) <= half) {
        const double pitch = SampleRoom::kHolePitch;
        const double limit = pitch * (SampleRoom::kHolesPerSide / 2);
        const double ha = std::max(-limit, std::min(limit, std::round(a / pitch) * pitch));
        const double hb = std::max(-limit, std::min(limit, std::round(b / pitch) * pitch));
        const double da = a - ha;
        const double db = b - hb;
        return da * da + db * db > SampleRoom::kHoleRadius * SampleRoom::kHoleRadius;
    }
    return a >= SampleRoom::kHandleStart && a <= SampleRoom::kHandleEnd
        && std::abs(b) <= SampleRoom::kHandleHalfWidth;
}

} // namespace

std::array<Eigen::Vector3d, 3> SampleRoom::markerCentres()
{
    return {Eigen::Vector3d(-0.40, 0.0, 0.30), Eigen::Vector3d(0.40, 0.0, 0.30), Eigen::Vector3d(-0.40, 0.0, -0.30)};
}

std::array<Eigen::Vector3d, SampleRoom::kHolesPerSide * SampleRoom::kHolesPerSide>
SampleRoom::holeCentres(const PlatePose& plate)
{
    std::array<Eigen::Vector3d, kHolesPerSide * kHolesPerSide> holes;
    const int half = kHolesPerSide / 2;
    for (int row = 0; row < kHolesPerSide; ++row)
        for (int column = 0; column < kHolesPerSide; ++column)
            holes[row * kHolesPerSide + column] = plate.centre + (column - half) * kHolePitch * plate.u
                + (half - row) * kHolePitch * plate.v;
    return holes;
}

bool SampleRoom::intersectStatic(const Eigen::Vector3d& origin, const Eigen::Vector3d& direction, SurfaceHit& hit)
{
    if (direction.y() >= 0.0)
        return false;
    const Eigen::Vector3d up(0.0, 1.0, 0.0);
    const double markerT = (kMarkerHeight - origin.y()) / direction.y();
    if (markerT > 0.0) {
        const Eigen::Vector3d p = origin + markerT * direction;
        for (const Eigen::Vector3d& marker : markerCentres()) {
            const double dx = p.x() - marker.x();
            const double dz = p.z() - marker.z();
            if (dx * dx + dz * dz <= kMarkerRadius * kMarkerRadius) {
                hit.t = markerT;
                hit.bgr = shade({40.0, 40.0, 215.0}, up, direction);
                return true;
            }
        }
    }
    const double floorT = -origin.y() / direction.y();
    if (floorT <= 0.0)
        return false;
    hit.t = floorT;
    hit.bgr = shade(floorColour(origin + floorT * direction), up, direction);
    return true;
}

bool SampleRoom::intersectPlate(const PlatePose& plate, const Eigen::Vector3d& origin,
                                const Eigen::Vector3d& direction, SurfaceHit& hit)
{
    const double denominator = plate.n.dot(direction);
    if (denominator == 0.0)
        return false;
    const double t = plate.n.dot(plate.centre - origin) / denominator;
    if (t <= 0.0)
        return false;
    const Eigen::Vector3d offset = origin + t * direction - plate.centre;
    const double a = offset.dot(plate.u);
    const double b = offset.dot(plate.v);
    if (!onPlateMaterial(a, b))
        return false;
    hit.t = t;
    const bool handle = std::abs(a) > kPlateHalfSize || std::abs(b) > kPlateHalfSize;
    const bool front = denominator < 0.0;
    const std::array<double, 3> colour = handle ? std::array<double, 3>{60.0, 45.0, 35.0}
        : front                                  ? std::array<double, 3>{228.0, 232.0, 235.0}
                                                 : std::array<double, 3>{205.0, 200.0, 196.0};
    hit.bgr = shade(colour, plate.n, direction);
    return true;
}
