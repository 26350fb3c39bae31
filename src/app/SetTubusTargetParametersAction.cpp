#include "app/SetTubusTargetParametersAction.h"

#include "scene/SceneState.h"
#include "scene/TubeRecord.h"

namespace tavorin {

SetTubusTargetParametersAction::SetTubusTargetParametersAction(float positionX_, float positionY_,
                                                               float positionZ_, float rotationX_,
                                                               float rotationY_, float diameter_,
                                                               float depth_)
    : positionX(positionX_), positionY(positionY_), positionZ(positionZ_), rotationX(rotationX_),
      rotationY(rotationY_), diameter(diameter_), depth(depth_)
{
}

void recomputeTubeSamplePoints(TubeRecord& tube)
{
    constexpr float kGridExtentOfDiameter = 0.49f;
    constexpr float kDiscRadiusOfDiameter = 0.5f;

    const int n = tube.gridHalfSize;
    const float nf = static_cast<float>(n);
    const float b = tube.diameter * kGridExtentOfDiameter;
    std::size_t j = 0;
    for (int i = -n; i <= n; ++i) {
        for (int k = -n; k <= n; ++k) {
            // With n = 0 both coordinates are 0/0, NaN, and the disc test fails.
            const Vec4 p = Vec4::point(b * i / nf, 0.0f, b * k / nf);
            if (!(length(p) < tube.diameter * kDiscRadiusOfDiameter))
                continue;
            if (j >= tube.samplePoints.size())
                return;
            if (tube.samplePoints[j])
                tube.samplePoints[j]->transform = translate(Mat4(), p.x, -tube.depth, p.z);
            ++j;
        }
    }
}

void SetTubusTargetParametersAction::execute(SceneState& state, std::shared_ptr<DepthCameraProcessor>&)
{
    if (state.tubes.empty() || !state.tubes.front())
        return;
    TubeRecord& tube = *state.tubes.front();

    tube.diameter = diameter;
    tube.depth = depth;
    if (tube.display) {
        tube.display->diameter = diameter;
        tube.display->depth = depth;
    }
    recomputeTubeSamplePoints(tube);

    Mat4 transform;
    transform = rotate(transform, rotationX, AxisX);
    transform = rotate(transform, rotationY, AxisY);
    transform = translate(transform, positionX, positionY, positionZ);
    print("TubusMatrix", transform);
    tube.transform = transform;
}

} // namespace tavorin
