// Camera model of the depth camera inside our SDK layer: normalised image coordinates (X/Z, Y/Z
// of the SDK's x-right, y-down camera frame) to pixels and back.
#pragma once

#include <k4a/k4atypes.h>

namespace k4a_model {

// Projects the normalised point (px, py) = (X/Z, Y/Z) to a pixel. Returns false (and leaves
// `uv` untouched) when the point lies beyond the metric radius.
bool projectNormalized(const k4a_calibration_camera_t& camera, float px, float py, float uv[2]);

// Finds (px, py) whose projection is the pixel `uv`. Returns false when the pixel does not map.
bool unprojectToNormalized(const k4a_calibration_camera_t& camera, const float uv[2], float p[2]);

} // namespace k4a_model
