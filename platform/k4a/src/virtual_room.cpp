// The operating room a virtual device sees, ray-cast through the cameras' own models.
#include <k4a_virtual/RoomScene.h>

#include <k4a/k4a.h>

#include "calibration_model.h"
#include "depth_rays.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace k4a_virtual {
namespace {

using Point = RoomScene::Point;

constexpr float kNearestM = 0.5f;  // the depth sensor measures 0.5 m to 3.86 m
constexpr float kFarthestM = 3.86f;
constexpr float kMmPerM = 1000.0f;
constexpr int kBgraBytes = 4;

struct Box {
    Point low;
    Point high;
};
constexpr Box kRoom{{-3.0f, 0.0f, -3.5f}, {3.0f, 3.0f, 3.5f}};
constexpr Box kTable{{-1.0f, 0.0f, -0.3f}, {1.0f, 0.9f, 0.3f}};
constexpr float kFloorTileM = 0.5f;

enum class Surface { None, Floor, Wall, Ceiling, TableTop, TableSide };

struct Hit {
    float t = std::numeric_limits<float>::infinity();
    Surface surface = Surface::None;
    Point point{};
};

Point add(const Point& a, const Point& b, float s)
{
    return {a[0] + b[0] * s, a[1] + b[1] * s, a[2] + b[2] * s};
}

Point normalized(const Point& a)
{
    const float length = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    return {a[0] / length, a[1] / length, a[2] / length};
}

Point cross(const Point& a, const Point& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Where the ray leaves the room from inside.
void hitRoom(const Point& origin, const Point& direction, Hit& hit)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (direction[axis] == 0.0f)
            continue;
        const float wall = direction[axis] > 0.0f ? kRoom.high[axis] : kRoom.low[axis];
        const float t = (wall - origin[axis]) / direction[axis];
        if (t > 0.0f && t < hit.t) {
            hit.t = t;
            hit.surface = axis != 1 ? Surface::Wall : (direction[1] < 0.0f ? Surface::Floor : Surface::Ceiling);
        }
    }
}

// Where the ray enters the table from outside (slab method).
void hitTable(const Point& origin, const Point& direction, Hit& hit)
{
    float enter = 0.0f;
    float leave = std::numeric_limits<float>::infinity();
    int enterAxis = -1;
    for (int axis = 0; axis < 3; ++axis) {
        if (direction[axis] == 0.0f) {
            if (origin[axis] < kTable.low[axis] || origin[axis] > kTable.high[axis])
                return;
            continue;
        }
        float t0 = (kTable.low[axis] - origin[axis]) / direction[axis];
        float t1 = (kTable.high[axis] - origin[axis]) / direction[axis];
        if (t0 > t1)
            std::swap(t0, t1);
        if (t0 > enter) {
            enter = t0;
            enterAxis = axis;
        }
        leave = std::min(leave, t1);
    }
    if (enterAxis >= 0 && enter <= leave && enter < hit.t) {
        hit.t = enter;
        hit.surface = enterAxis == 1 ? Surface::TableTop : Surface::TableSide;
    }
}

Hit castRay(const Point& origin, const Point& direction)
{
    Hit hit;
    hitRoom(origin, direction, hit);
    hitTable(origin, direction, hit);
    hit.point = add(origin, direction, hit.t);
    return hit;
}

// B, G, R, A of a surface point.
void shade(const Hit& hit, std::uint8_t* bgra)
{
    std::uint8_t b = 0, g = 0, r = 0;
    switch (hit.surface) {
    case Surface::Floor: {
        const int tile =
            static_cast<int>(std::floor(hit.point[0] / kFloorTileM) + std::floor(hit.point[2] / kFloorTileM));
        const std::uint8_t grey = (tile & 1) ? 150 : 110;
        b = g = r = grey;
        break;
    }
    case Surface::Wall:
        b = 170, g = 200, r = 160;
        break;
    case Surface::Ceiling:
        b = g = r = 230;
        break;
    case Surface::TableTop:
        b = 200, g = 140, r = 60;
        break;
    case Surface::TableSide:
        b = 90, g = 80, r = 70;
        break;
    case Surface::None:
        break;
    }
    bgra[0] = b;
    bgra[1] = g;
    bgra[2] = r;
    bgra[3] = 255;
}

// Camera-frame vector (x right, y down, z along the view) in room coordinates.
Point toRoom(const std::array<Point, 3>& axes, const Point& v)
{
    Point out{};
    for (int i = 0; i < 3; ++i)
        out[i] = axes[0][i] * v[0] + axes[1][i] * v[1] + axes[2][i] * v[2];
    return out;
}

} // namespace

RoomScene::RoomScene(const Point& cameraPosition, const Point& lookAt) : position(cameraPosition)
{
    constexpr Point kUp{0.0f, 1.0f, 0.0f};
    const Point view = normalized({lookAt[0] - position[0], lookAt[1] - position[1], lookAt[2] - position[2]});
    const Point right = normalized(cross(view, kUp));
    axes = {right, cross(view, right), view};
}

void RoomScene::prepare(const k4a_calibration_t& calibration, int depthWidth, int depthHeight, int colorWidth,
                        int colorHeight)
{
    renderDepth(calibration, depthWidth, depthHeight);
    renderColor(calibration, colorWidth, colorHeight);
    rendered = true;
}

void RoomScene::render(const k4a_calibration_t& calibration, std::uint64_t, const FrameBuffers& frame)
{
    if (!rendered)
        prepare(calibration, frame.depthWidth, frame.depthHeight, frame.colorWidth, frame.colorHeight);
    if (frame.depthMm && depthMm.size() == static_cast<std::size_t>(frame.depthWidth) * frame.depthHeight)
        std::memcpy(frame.depthMm, depthMm.data(), depthMm.size() * sizeof(std::uint16_t));
    if (frame.bgra && bgra.size() == static_cast<std::size_t>(frame.colorWidth) * frame.colorHeight * kBgraBytes)
        std::memcpy(frame.bgra, bgra.data(), bgra.size());
}

void RoomScene::renderDepth(const k4a_calibration_t& calibration, int width, int height)
{
    depthMm.assign(static_cast<std::size_t>(width) * height, 0);
    std::vector<float> rays;
    if (!k4a_layer::depthRays(calibration, width, height, rays))
        return;
    for (std::size_t k = 0; k < depthMm.size(); ++k) {
        const float x = rays[2 * k];
        const float y = rays[2 * k + 1];
        if (std::isnan(x))
            continue;
        // The ray has unit z, so the distance along it is the depth.
        const float z = castRay(position, toRoom(axes, {x, y, 1.0f})).t;
        if (z >= kNearestM && z <= kFarthestM)
            depthMm[k] = static_cast<std::uint16_t>(std::lround(z * kMmPerM));
    }
}

void RoomScene::renderColor(const k4a_calibration_t& calibration, int width, int height)
{
    bgra.assign(static_cast<std::size_t>(width) * height * kBgraBytes, 0);
    const k4a_calibration_extrinsics_t& toColor =
        calibration.extrinsics[K4A_CALIBRATION_TYPE_DEPTH][K4A_CALIBRATION_TYPE_COLOR];
    // The colour camera's centre and axes in the depth camera's frame: p_d = R^T (p_c - t).
    Point centreInDepth{};
    std::array<Point, 3> colorAxes{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            centreInDepth[i] -= toColor.rotation[j * 3 + i] * toColor.translation[j] / kMmPerM;
            colorAxes[j][i] = toColor.rotation[j * 3 + i];
        }
    }
    const Point origin = add(position, toRoom(axes, centreInDepth), 1.0f);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const float uv[2] = {static_cast<float>(c), static_cast<float>(r)};
            float p[2];
            if (!k4a_model::unprojectToNormalized(calibration.color_camera_calibration, uv, p))
                continue;
            Point inDepth{};
            for (int i = 0; i < 3; ++i)
                inDepth[i] = colorAxes[0][i] * p[0] + colorAxes[1][i] * p[1] + colorAxes[2][i];
            std::uint8_t* pixel = bgra.data() + (static_cast<std::size_t>(r) * width + c) * kBgraBytes;
            shade(castRay(origin, toRoom(axes, inDepth)), pixel);
        }
}

} // namespace k4a_virtual
