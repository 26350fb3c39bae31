#include "calibration/registration/RoomRegistration.h"

#include "base/Console.h"
#include "scene/DepthCameraData.h"
#include "scene/DepthCameraProcessor.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

namespace tavorin {

namespace {

constexpr float kMinEdgeM = 0.05f;
constexpr float kMaxCornerErrorDegrees = 5.0f;
constexpr float kRightAngleDegrees = 90.0f;
constexpr float kDegreesPerRadian = 57.2957795f;
// A frame change whose every element lies this close to the identity's changes nothing (metres
// for the translation): what is left of a second press on the same points is float rounding.
constexpr float kUnchangedTolerance = 1e-5f;

bool nearIdentity(const Mat4& change)
{
    const Mat4 identity = Mat4::identity();
    for (int i = 0; i < 16; ++i)
        if (std::fabs(change.m[i] - identity.m[i]) > kUnchangedTolerance)
            return false;
    return true;
}

// The cameras stand above the floor: their centres lie on the side of the floor plane (through
// `corner`, normal `up`) that `up` points to, taken together.
bool camerasBelow(const std::vector<std::shared_ptr<DepthCameraData>>& cameras, const Vec4& corner, const Vec4& up)
{
    float height = 0.0f;
    for (const std::shared_ptr<DepthCameraData>& camera : cameras)
        height += dot(camera->modelMatrix.translation() - corner, up);
    return height < 0.0f;
}

std::string rectangleLine(const RoomRectangle& rectangle)
{
    std::ostringstream line;
    line << std::fixed << std::setprecision(1) << "Room rectangle: corner angle " << rectangle.cornerDegrees
         << " degrees at Point 1, edges " << std::setprecision(3) << rectangle.edgeToPoint0 << " m to Point 0 and "
         << rectangle.edgeToPoint2 << " m to Point 2";
    return line.str();
}

} // namespace

RoomRectangle measureRoomRectangle(const std::array<Vec4, 3>& roomCalibPoints)
{
    const Vec4 toA = roomCalibPoints[0] - roomCalibPoints[1];
    const Vec4 toB = roomCalibPoints[2] - roomCalibPoints[1];
    RoomRectangle rectangle;
    rectangle.edgeToPoint0 = length(toA);
    rectangle.edgeToPoint2 = length(toB);
    rectangle.cornerDegrees = std::atan2(length(cross(toA, toB)), dot(toA, toB)) * kDegreesPerRadian;
    return rectangle;
}

std::string roomPointsFault(const std::array<Vec4, 3>& roomCalibPoints)
{
    const RoomRectangle rectangle = measureRoomRectangle(roomCalibPoints);
    std::ostringstream fault;
    fault << std::fixed << std::setprecision(3);
    if (!(rectangle.edgeToPoint0 >= kMinEdgeM))
        fault << "Point 0 lies " << rectangle.edgeToPoint0 << " m from the corner, Point 1";
    else if (!(rectangle.edgeToPoint2 >= kMinEdgeM))
        fault << "Point 2 lies " << rectangle.edgeToPoint2 << " m from the corner, Point 1";
    else if (!(std::fabs(rectangle.cornerDegrees - kRightAngleDegrees) <= kMaxCornerErrorDegrees))
        fault << std::setprecision(1) << "the corner at Point 1 measures " << rectangle.cornerDegrees
              << " degrees";
    else
        return {};
    fault << "; the three points must span a right angle (90 +- 5 degrees) with edges of at least 0.05 m";
    return fault.str();
}

NamedModelMatrices namedModelMatrices(const std::vector<std::shared_ptr<DepthCameraData>>& cameras)
{
    NamedModelMatrices matrices;
    for (const std::shared_ptr<DepthCameraData>& camera : cameras)
        if (camera)
            matrices.emplace_back(camera->sourceName, camera->modelMatrix);
    return matrices;
}

std::size_t restoreModelMatrices(const std::vector<std::shared_ptr<DepthCameraData>>& cameras,
                                 DepthCameraProcessor* depthSource, const NamedModelMatrices& matrices)
{
    std::size_t restored = 0;
    for (const std::shared_ptr<DepthCameraData>& camera : cameras) {
        if (!camera)
            continue;
        const auto kept = std::find_if(matrices.begin(), matrices.end(),
                                       [&](const auto& named) { return named.first == camera->sourceName; });
        if (kept == matrices.end())
            continue;
        camera->modelMatrix = kept->second;
        if (depthSource)
            depthSource->setModelMatrix(camera->sourceName, camera->modelMatrix);
        ++restored;
    }
    return restored;
}

Mat4 T_drawn_camera0(const std::vector<std::shared_ptr<DepthCameraData>>& cameras)
{
    return cameras.empty() ? Mat4::identity() : cameras.front()->modelMatrix;
}

RoomRegistrationResult registrateRoom(const std::vector<std::shared_ptr<DepthCameraData>>& cameras,
                                      DepthCameraProcessor* depthSource, const std::array<Vec4, 3>& roomCalibPoints)
{
    const std::string fault = roomPointsFault(roomCalibPoints);
    if (!fault.empty()) {
        console::err("Register World refused: ", fault, ". Nothing changed.");
        return RoomRegistrationResult::Refused;
    }
    const Vec4& a = roomCalibPoints[0];
    const Vec4& o = roomCalibPoints[1];
    const Vec4& b = roomCalibPoints[2];
    const Vec4 xAxis = normalize(a - o);
    Vec4 yAxis = normalize(cross(b - o, a - o));
    const bool turned = camerasBelow(cameras, o, yAxis);
    if (turned)
        yAxis = -yAxis;
    const Vec4 zAxis = cross(xAxis, yAxis);
    const Mat4 T_drawn_corner = Mat4::fromAxes(xAxis, yAxis, zAxis, o);
    const Mat4 difference = inverse(T_drawn_corner);
    // The rectangle's middle in the corner's frame; the room origin goes there.
    const Vec4 middle = difference * (o + (a - o) * 0.5f + (b - o) * 0.5f);
    const Mat4 T_room_drawn = translate(difference, -middle.x, 0.0f, -middle.z);
    if (nearIdentity(T_room_drawn)) {
        console::out("Register World: the cameras already stand in the room frame of these points; nothing changes.");
        return RoomRegistrationResult::Unchanged;
    }
    console::out(rectangleLine(measureRoomRectangle(roomCalibPoints)));
    if (turned)
        console::out("The clicked edges would put the cameras under the floor: the room frame is turned the right "
                     "way up (y up, x toward Point 0, z away from Point 2).");
    print("Difference", difference);
    if (!depthSource)
        return RoomRegistrationResult::Applied;
    // The records carry the new matrices at once, as the next frame step's will: a second press or
    // a store before that step sees what is in effect.
    for (const std::shared_ptr<DepthCameraData>& camera : cameras) {
        camera->modelMatrix = T_room_drawn * camera->modelMatrix;
        depthSource->setModelMatrix(camera->sourceName, camera->modelMatrix);
    }
    return RoomRegistrationResult::Applied;
}

} // namespace tavorin
