#include "calibration_model.h"

#include <cmath>

namespace k4a_model {
namespace {

struct Distortion {
    float xd; // distorted normalised x, without codx
    float yd;
    float dxdx, dxdy, dydx, dydy; // Jacobian of (xd, yd) with respect to (px, py)
};

// Cross-term factor of the tangential distortion: 2 for Brown-Conrady, 1 for Rational 6KT.
float crossFactor(const k4a_calibration_intrinsics_t& intrinsics)
{
    return intrinsics.type == K4A_CALIBRATION_LENS_DISTORTION_MODEL_RATIONAL_6KT ? 1.0f : 2.0f;
}

// The rational radial factor (1 + k1 r² + k2 r⁴ + k3 r⁶) / (1 + k4 r² + k5 r⁴ + k6 r⁶) at r², its
// parts kept for the derivative; a vanishing denominator counts as 1.
struct RadialFactor {
    float numerator;
    float denominator;
    float value;
};

RadialFactor radialFactor(const k4a_calibration_intrinsics_t& intrinsics, float r2)
{
    const auto& p = intrinsics.parameters.param;
    const float r4 = r2 * r2;
    const float r6 = r4 * r2;
    const float numerator = 1.0f + p.k1 * r2 + p.k2 * r4 + p.k3 * r6;
    float denominator = 1.0f + p.k4 * r2 + p.k5 * r4 + p.k6 * r6;
    if (denominator == 0.0f)
        denominator = 1.0f;
    return {numerator, denominator, numerator / denominator};
}

bool withinMetricRadius(const k4a_calibration_camera_t& camera, float r2)
{
    const float radius = camera.metric_radius;
    return r2 <= radius * radius;
}

// The distorted normalised point (without codx) of (x, y) at radius² r2 and radial factor d.
void distortedPoint(const k4a_calibration_intrinsics_t& intrinsics, float x, float y, float r2, float d, float& xd,
                    float& yd)
{
    const auto& p = intrinsics.parameters.param;
    const float c = crossFactor(intrinsics);
    xd = x * d + (r2 + 2.0f * x * x) * p.p2 + c * x * y * p.p1;
    yd = y * d + (r2 + 2.0f * y * y) * p.p1 + c * x * y * p.p2;
}

Distortion distort(const k4a_calibration_intrinsics_t& intrinsics, float x, float y)
{
    const auto& p = intrinsics.parameters.param;
    const float c = crossFactor(intrinsics);
    const float r2 = x * x + y * y;
    const float r4 = r2 * r2;
    const RadialFactor radial = radialFactor(intrinsics, r2);
    const float d = radial.value;
    const float dNumerator = p.k1 + 2.0f * p.k2 * r2 + 3.0f * p.k3 * r4;
    const float dDenominator = p.k4 + 2.0f * p.k5 * r2 + 3.0f * p.k6 * r4;
    const float dd = (dNumerator * radial.denominator - radial.numerator * dDenominator)
        / (radial.denominator * radial.denominator);

    Distortion out;
    distortedPoint(intrinsics, x, y, r2, d, out.xd, out.yd);
    out.dxdx = d + 2.0f * x * x * dd + 6.0f * x * p.p2 + c * y * p.p1;
    out.dxdy = 2.0f * x * y * dd + 2.0f * y * p.p2 + c * x * p.p1;
    out.dydx = 2.0f * x * y * dd + 2.0f * x * p.p1 + c * y * p.p2;
    out.dydy = d + 2.0f * y * y * dd + 6.0f * y * p.p1 + c * x * p.p2;
    return out;
}

// Projection with its Jacobian in pixels per normalised unit; false beyond the metric radius.
bool projectWithJacobian(const k4a_calibration_camera_t& camera, float px, float py, float uv[2], float J[4])
{
    const auto& p = camera.intrinsics.parameters.param;
    const float x = px - p.codx;
    const float y = py - p.cody;
    if (!withinMetricRadius(camera, x * x + y * y))
        return false;
    const Distortion dist = distort(camera.intrinsics, x, y);
    uv[0] = (dist.xd + p.codx) * p.fx + p.cx;
    uv[1] = (dist.yd + p.cody) * p.fy + p.cy;
    J[0] = p.fx * dist.dxdx;
    J[1] = p.fx * dist.dxdy;
    J[2] = p.fy * dist.dydx;
    J[3] = p.fy * dist.dydy;
    return true;
}

// First guess: undo the radial factor at the distorted radius, then the tangential terms there.
void initialGuess(const k4a_calibration_camera_t& camera, const float uv[2], float guess[2])
{
    const auto& p = camera.intrinsics.parameters.param;
    const float c = crossFactor(camera.intrinsics);
    const float xd = (uv[0] - p.cx) / p.fx - p.codx;
    const float yd = (uv[1] - p.cy) / p.fy - p.cody;
    float d = radialFactor(camera.intrinsics, xd * xd + yd * yd).value;
    if (d == 0.0f)
        d = 1.0f;
    const float x = xd / d;
    const float y = yd / d;
    const float gr2 = x * x + y * y;
    guess[0] = x - ((gr2 + 2.0f * x * x) * p.p2 + c * x * y * p.p1) + p.codx;
    guess[1] = y - ((gr2 + 2.0f * y * y) * p.p1 + c * x * y * p.p2) + p.cody;
}

float squaredError(const float a[2], const float b[2])
{
    const float du = a[0] - b[0];
    const float dv = a[1] - b[1];
    return du * du + dv * dv;
}

} // namespace

// As projectWithJacobian without the Jacobian: the colour resampling projects every depth pixel
// of every frame, and the derivative's terms doubled its cost.
bool projectNormalized(const k4a_calibration_camera_t& camera, float px, float py, float uv[2])
{
    const auto& p = camera.intrinsics.parameters.param;
    const float x = px - p.codx;
    const float y = py - p.cody;
    const float r2 = x * x + y * y;
    if (!withinMetricRadius(camera, r2))
        return false;
    float xd = 0.0f;
    float yd = 0.0f;
    distortedPoint(camera.intrinsics, x, y, r2, radialFactor(camera.intrinsics, r2).value, xd, yd);
    uv[0] = (xd + p.codx) * p.fx + p.cx;
    uv[1] = (yd + p.cody) * p.fy + p.cy;
    return true;
}

bool unprojectToNormalized(const k4a_calibration_camera_t& camera, const float uv[2], float p[2])
{
    constexpr int kMaxNewtonSteps = 20;
    constexpr float kConvergedSquaredError = 1e-22f;
    constexpr float kMaxSquaredErrorPx2 = 1e-6f;

    float best[2];
    initialGuess(camera, uv, best);
    float projected[2];
    float J[4];
    if (!projectWithJacobian(camera, best[0], best[1], projected, J))
        return false;
    float bestError = squaredError(projected, uv);

    for (int step = 0; step < kMaxNewtonSteps && bestError >= kConvergedSquaredError; ++step) {
        const float det = J[0] * J[3] - J[1] * J[2];
        if (det == 0.0f)
            break;
        const float eu = projected[0] - uv[0];
        const float ev = projected[1] - uv[1];
        const float candidate[2] = {best[0] - (J[3] * eu - J[1] * ev) / det,
                                    best[1] - (J[0] * ev - J[2] * eu) / det};
        float candidateProjected[2];
        float candidateJ[4];
        if (!projectWithJacobian(camera, candidate[0], candidate[1], candidateProjected, candidateJ))
            return false;
        const float error = squaredError(candidateProjected, uv);
        if (!(error < bestError))
            break;
        best[0] = candidate[0];
        best[1] = candidate[1];
        bestError = error;
        for (int i = 0; i < 2; ++i)
            projected[i] = candidateProjected[i];
        for (int i = 0; i < 4; ++i)
            J[i] = candidateJ[i];
    }
    if (!(bestError <= kMaxSquaredErrorPx2))
        return false;
    p[0] = best[0];
    p[1] = best[1];
    return true;
}

} // namespace k4a_model
