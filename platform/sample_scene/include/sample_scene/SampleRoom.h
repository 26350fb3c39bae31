#pragma once

#include <Eigen/Core>

#include <array>
#include <cstdint>

// Pose of the calibration plate in the room (metres, y up): u points from the centre hole toward
// the handle, v is the plate's other in-plane axis, n = u x v its front normal.
struct PlatePose {
    Eigen::Vector3d centre;
    Eigen::Vector3d u, v, n;

    // The plate at `centre`, its u, v and n the columns of the rotation `axes`.
    static PlatePose at(const Eigen::Vector3d& centre, const Eigen::Matrix3d& axes)
    {
        return {centre, axes.col(0), axes.col(1), axes.col(2)};
    }
};

// A surface point seen along a ray: t is the ray parameter (for rays with camera z = 1 the depth
// in metres), colour in B, G, R order.
struct SurfaceHit {
    double t = 0.0;
    std::array<std::uint8_t, 3> bgr{{0, 0, 0}};
};

// The synthetic operating room: a tiled floor (y = 0), three flat floor markers at three corners
// of a rectangle, and the hole plate with its handle. Nothing else lies within the sensor's range.
class SampleRoom {
public:
    static constexpr double kPlateHalfSize = 0.22;   // 44 x 44 cm
    static constexpr double kHolePitch = 0.08;
    static constexpr double kHoleRadius = 0.02;      // 4 cm holes
    static constexpr int kHolesPerSide = 5;
    static constexpr double kHandleStart = 0.22;     // from the centre hole along u
    static constexpr double kHandleEnd = 0.38;
    static constexpr double kHandleHalfWidth = 0.025;
    static constexpr double kMarkerRadius = 0.05;
    static constexpr double kMarkerHeight = 0.004;   // flat marker discs on the floor

    // Corner with the right angle first, then the corner along room x, then the one along room z.
    static std::array<Eigen::Vector3d, 3> markerCentres();
    static std::array<Eigen::Vector3d, kHolesPerSide * kHolesPerSide> holeCentres(const PlatePose& plate);

    // Nearest hit of the static room (floor, markers) along origin + t * direction, t > 0.
    static bool intersectStatic(const Eigen::Vector3d& origin, const Eigen::Vector3d& direction, SurfaceHit& hit);
    // Hit of the plate or its handle (either side).
    static bool intersectPlate(const PlatePose& plate, const Eigen::Vector3d& origin,
                               const Eigen::Vector3d& direction, SurfaceHit& hit);
};
