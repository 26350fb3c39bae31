#pragma once

#include "sample_scene/SampleRoom.h"

#include <Eigen/Core>

#include <array>
#include <vector>

namespace sample_scene {

// A box standing on the floor (room metres, y up): the centre of its footprint, its half width
// (x), height and half depth (z) before it is turned by `yaw` radians about the vertical.
struct FloorBox {
    Eigen::Vector2d footprintCentre; // (x, z)
    Eigen::Vector3d halfSize;        // (half x, height, half z)
    double yaw = 0.0;
    std::array<double, 3> bgr{{150.0, 150.0, 150.0}};
};

// Nearest hit of the box's outside along origin + t * direction, t > 0; `cosIncidence` gets the
// cosine between the ray and the face it meets.
bool intersectBox(const FloorBox& box, const Eigen::Vector3d& origin, const Eigen::Vector3d& direction,
                  SurfaceHit& hit, double& cosIncidence);

// What stands in the furnished sample room around the work centre: walls 2.8 m from it, a tall
// cabinet, two instrument trolleys, a side table and the operating table (last), so that a camera
// under the ceiling sees still structure facing several ways besides the floor.
std::vector<FloorBox> furnishedRoom();
// The operating table pushed 0.3 m aside and turned by 12 degrees.
FloorBox pushedTable();
// A person (a box of a person's size) walking across the room, `seconds` after setting off.
FloorBox walkingPerson(double seconds);

} // namespace sample_scene
