// The unit-depth rays of the depth camera's pixels, as the transformation and the virtual room
// both need them.
#pragma once

#include <k4a/k4atypes.h>

#include <vector>

namespace k4a_layer {

// The ray (x, y) at depth 1 of every pixel of a width x height depth image, rows from the top, in
// the SDK's x-right, y-down depth camera frame: what k4a_calibration_2d_to_3d gives at 1 mm, NaN
// where the pixel does not map. False when the image has no pixels.
bool depthRays(const k4a_calibration_t& calibration, int width, int height, std::vector<float>& rays);

} // namespace k4a_layer
