#pragma once

#include "scene/OrvoAction.h"

namespace tavorin {

struct TubeRecord;

// Edits tube 0 of the scene state: size, sample points and pose. Positions in metres (room),
// rotations in radians.
class SetTubusTargetParametersAction : public OrvoAction {
public:
    SetTubusTargetParametersAction(float positionX, float positionY, float positionZ, float rotationX,
                                   float rotationY, float diameter, float depth);
    void execute(SceneState& state, std::shared_ptr<DepthCameraProcessor>& depthSource) override;

    float positionX;
    float positionY;
    float positionZ;
    float rotationX;
    float rotationY;
    float diameter;
    float depth;
};

// Lays the tube's sample points on a square grid of spacing 0.49 D / n clipped to the open disc of
// radius D / 2, all at the tube's depth; points beyond the disc's count stay as they are.
void recomputeTubeSamplePoints(TubeRecord& tube);

} // namespace tavorin
