#include "calibration/RoomRegistration.h"

#include "math/Mat4.h"
#include "scene/DepthCameraData.h"
#include "scene/DepthCameraProcessor.h"

namespace tavorin {

void registrateRoom(const std::vector<std::shared_ptr<DepthCameraData>>& cameras, DepthCameraProcessor* depthSource,
                    const std::array<Vec4, 3>& roomCalibPoints)
{
    const Vec4& a = roomCalibPoints[0];
    const Vec4& o = roomCalibPoints[1];
    const Vec4& b = roomCalibPoints[2];
    const float lengthB = length(b - o);
    const float lengthA = length(a - o);
    const Vec4 zAxis = normalize(b - o);
    const Vec4 xAxis = normalize(a - o);
    const Vec4 yAxis = normalize(cross(zAxis, xAxis));
    const Mat4 T_drawn_room = Mat4::fromAxes(xAxis, yAxis, zAxis, o);
    const Mat4 identity = Mat4::fromAxes(Vec4::direction(1.0f, 0.0f, 0.0f), Vec4::direction(0.0f, 1.0f, 0.0f),
                                         Vec4::direction(0.0f, 0.0f, 1.0f), Vec4::point(0.0f, 0.0f, 0.0f));
    const Mat4 difference = inverse(T_drawn_room) * identity;
    print("Difference", difference);
    if (!depthSource)
        return;
    for (const std::shared_ptr<DepthCameraData>& camera : cameras) {
        const Mat4 moved = translate(difference * camera->modelMatrix, -lengthA / 2.0f, 0.0f, -lengthB / 2.0f);
        depthSource->setModelMatrix(camera->sourceName, moved);
    }
}

} // namespace tavorin
