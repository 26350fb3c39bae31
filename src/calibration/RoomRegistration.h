#pragma once

#include "math/Vec4.h"

#include <array>
#include <memory>
#include <vector>

namespace tavorin {

struct DepthCameraData;
class DepthCameraProcessor;

// Re-bases every camera on the room frame spanned by three floor points given in the coordinates
// the cameras are drawn in: roomCalibPoints[1] is the corner O, [0] the point A along the room's x
// axis, [2] the point B along its z axis; the origin goes to the middle of the rectangle. Prints
// the frame change under "Difference" and sets each camera's new matrix through depthSource (may
// be null: then only the print). GUI thread, under the scene's frame lock.
void registrateRoom(const std::vector<std::shared_ptr<DepthCameraData>>& cameras, DepthCameraProcessor* depthSource,
                    const std::array<Vec4, 3>& roomCalibPoints);

} // namespace tavorin
