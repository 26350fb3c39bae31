#pragma once

#include "math/Mat4.h"
#include "math/Vec4.h"

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavorin {

struct DepthCameraData;
class DepthCameraProcessor;

// The rectangle three floor points span: roomCalibPoints[1] is the corner O, [0] the point A
// along the room's x axis, [2] the point B along its z axis (metres, degrees).
struct RoomRectangle {
    float cornerDegrees = 0.0f; // the angle at O between A and B
    float edgeToPoint0 = 0.0f;  // |A - O|
    float edgeToPoint2 = 0.0f;  // |B - O|
};
RoomRectangle measureRoomRectangle(const std::array<Vec4, 3>& roomCalibPoints);

// Why the points cannot define a room frame, or empty: an edge shorter than 5 cm (equal points),
// or a corner further than 5 degrees from a right angle (collinear points among them). The text
// follows "Register World refused: ".
std::string roomPointsFault(const std::array<Vec4, 3>& roomCalibPoints);

enum class RoomRegistrationResult {
    Applied,   // every camera re-based on the room frame
    Unchanged, // the cameras already stand in this room frame
    Refused,   // the points span no room frame (roomPointsFault); nothing changed
};

// Re-bases every camera on the room frame spanned by three floor points given in the coordinates
// the cameras are drawn in now: the origin goes to the middle of the rectangle, x toward A, y up
// (toward the cameras: when the clicked edges would put y down, z is turned to point away from B
// and the console says so), z along the edge to B; the axes are made orthonormal. Prints the
// rectangle's corner angle and edges, and the frame change at O under "Difference"; sets each
// camera's new matrix through depthSource and in its record, so that a second call or a store
// before the next frame step sees it (depthSource may be null: then only the prints). Points that
// already lie where the frame puts them change nothing. GUI thread, under the scene's frame lock.
RoomRegistrationResult registrateRoom(const std::vector<std::shared_ptr<DepthCameraData>>& cameras,
                                      DepthCameraProcessor* depthSource, const std::array<Vec4, 3>& roomCalibPoints);

// Each camera's model matrix by its source's name: what a room registration replaces, kept so
// that it can be undone.
using NamedModelMatrices = std::vector<std::pair<std::string, Mat4>>;
NamedModelMatrices namedModelMatrices(const std::vector<std::shared_ptr<DepthCameraData>>& cameras);

// Puts the kept matrices back on the cameras of those names, through depthSource (may be null) and
// in their records; how many cameras took theirs. GUI thread, under the scene's frame lock.
std::size_t restoreModelMatrices(const std::vector<std::shared_ptr<DepthCameraData>>& cameras,
                                 DepthCameraProcessor* depthSource, const NamedModelMatrices& matrices);

// Camera 0's model matrix (the first record's), the identity without cameras: room points are
// kept in camera 0's own coordinates, so that a point saved before a registration means the same
// floor spot after it.
Mat4 T_drawn_camera0(const std::vector<std::shared_ptr<DepthCameraData>>& cameras);

} // namespace tavorin
