#pragma once

#include "acquisition/model/RayTable.h"

#include <cstddef>
#include <cstdint>

namespace tavorin {

// How millimetres become metres. Both give the same point up to the last bit of rounding; each
// source keeps its own, so that its points stay bit for bit what they have always been.
enum class MetreScaling {
    DivideProduct, // x = d tx / -1000, y = d ty / (-1000 or 1000), z = d / 1000
    ScaleRay,      // z = d * 0.001, x = -tx z, y = (-ty or ty) z
};

// What a depth source writes as the fourth float of a point (DepthCameraData.h says why).
enum class FourthFloat {
    Zero,          // every pixel gets 0
    OneWhereValid, // 1 where the pixel has a point; the others keep the float they had
};

// A source's conventions for turning depth through its ray table into points.
struct PointConvention {
    RayTableY tableY;
    MetreScaling scaling;
    FourthFloat fourth;
};

// Live capture: the SDK's rays, w = 0.
constexpr PointConvention kLiveCameraPoints{RayTableY::AsSdk, MetreScaling::DivideProduct, FourthFloat::Zero};
// Recordings: the table holds (x, -y), w = 1 where valid.
constexpr PointConvention kRecordingPoints{RayTableY::Negated, MetreScaling::ScaleRay, FourthFloat::OneWhereValid};

// Whether a depth in millimetres is a measurement: finite and at least 1 mm. Zero, negative and
// not-a-number depths, and the infinities that a conversion from a wider type can give, are none.
inline bool isDepthMeasurement(float depthMm)
{
    constexpr float kMinDepthMm = 1.0f;
    constexpr float kMaxFiniteMm = 3.40282347e38f;
    return depthMm >= kMinDepthMm && depthMm <= kMaxFiniteMm;
}

// Depth in millimetres and each pixel's unit-depth ray (tx, ty) = rays[2k], rays[2k + 1] to points
// in metres, camera frame (x to the image's left, y up, z along the view): the SDK's point of the
// pixel with x and y negated, whichever way the table stores y. A pixel whose depth is no
// measurement (isDepthMeasurement) or with a NaN in its ray gets x, y, z = 0. The fourth float follows the convention. Any number of pixels;
// whole groups of four go through SSE2 with the same operations and so the same bits.
void depthToPoints(const std::uint16_t* depthMm, const float* rays, std::size_t pixels, float* points,
                   PointConvention convention);
void depthToPoints(const float* depthMm, const float* rays, std::size_t pixels, float* points,
                   PointConvention convention);

} // namespace tavorin
