#pragma once

#include "sample_scene/SampleCameraRig.h"

#include <Eigen/Core>

#include <string>
#include <vector>

namespace sample_scene {

class SampleView;

// A camera knocked `seconds` into the scene: turned by `amount` degrees about a skewed axis through
// its centre, shifted by `amount` mm, or its range made `amount` mm longer.
struct Knock {
    enum class Kind { Turn, Shift, Range };
    int camera = 0;
    double seconds = 0.0;
    Kind kind = Kind::Turn;
    double amount = 0.0;
};

// The axis of a turn and the direction of a shift, in the SDK frame of the camera (x right, y down,
// z along the view).
Eigen::Vector3d knockTurnAxis();
Eigen::Vector3d knockShiftDirection();

// "C,S,turn|shift|range,AMOUNT": camera C (below `cameras`) knocked S seconds (0 to 3600) in, by
// up to 100 degrees or millimetres; false for anything else.
bool parseKnock(const std::string& text, int cameras, Knock& knock);

// Where a turn or shift puts the camera (a change of range leaves it where it is).
CameraPose knockedPose(const CameraPose& pose, const Knock& knock);
// The knock applied to the camera's view (cast again from its new pose, or its range error grown)
// and to its pose.
void applyKnock(SampleView& view, CameraPose& pose, const Knock& knock);

const char* knockKindName(Knock::Kind kind);

} // namespace sample_scene
