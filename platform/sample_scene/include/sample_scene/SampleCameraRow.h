#pragma once

#include "sample_scene/SampleCameraRig.h"
#include "sample_scene/SampleRoom.h"

// The sample scene laid out along a room, as in a corridor of cameras that no single camera sees
// whole: cameras 1.5 m apart along room x on alternating walls, each looking across the room at its
// own stretch of the plate's path, so that neighbours share some frames and cameras two apart share
// none. Room metres, y up.
namespace sample_scene {

// Camera `index` of `count`; camera 0 stands at the -x end on the -z wall.
CameraPose rowCameraPose(int index, int count);

// The plate carried along the row of `count` cameras, once from beyond camera 0 to beyond the last
// camera every `period` seconds, and back on the next pass: it weaves toward each camera as it
// passes it and away toward the far wall between cameras, turns to face the camera nearest along
// the room, and sways and turns in the operator's hands.
PlatePose rowPlateAt(double seconds, double period, int count);

} // namespace sample_scene
