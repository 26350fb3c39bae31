#pragma once

#include "sample_scene/SampleCameraRig.h"
#include "sample_scene/SampleRoom.h"

// The sample scene of an operating room's ceiling: cameras on a ring under the ceiling round the
// operating table, each about 3 m from the plate, all looking down at the table, where the plate
// is waved briskly above it. Room metres, y up.
namespace sample_scene {

// Camera `index` of `count`, round the table in index order, camera 0 on the +z side.
CameraPose ceilingCameraPose(int index, int count);

// The plate above the table, its front up toward the ceiling: it runs a figure over the table once
// every `period` seconds, speeding up and slowing down as it turns (0.7 m/s on average with a
// period of 6 s), tilts toward one side of the room after the other and turns within its plane.
PlatePose ceilingPlateAt(double seconds, double period);

} // namespace sample_scene
