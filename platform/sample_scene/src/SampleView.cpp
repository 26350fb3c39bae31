#include "sample_scene/SampleView.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace sample_scene {

namespace {

constexpr float kMinDepthMm = 500.0f;
constexpr float kMaxDepthMm = 3860.0f;
constexpr double kNoiseSigmaMm = 1.5;
constexpr float kMixedPixelStepMm = 50.0f;
constexpr float kMmPerMetre = 1000.0f;
constexpr std::size_t kNoiseSamples = std::size_t(1) << 20;
// Around the plate's centre: its corners (0.31 m) and the end of its handle (0.38 m), with margin.
constexpr float kPlateSphereRadius = 0.40f;
constexpr std::uint32_t kNoiseSeed = 4242u;

} // namespace

SampleView::SampleView(const CameraPose& pose, int width, int height, const std::vector<float>& rays,
                       const Eigen::Matrix3d& R_sdk_view, const Eigen::Vector3d& t_sdk_view_m)
    : columns(width), rows(height)
{
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    origin = pose.position + pose.R_room_sdk * t_sdk_view_m;
    const Eigen::Matrix3d R_room_view = pose.R_room_sdk * R_sdk_view;
    directions.resize(pixels);
    inverseLengthSquared.assign(pixels, 0.0f);
    backgroundT.assign(pixels, std::numeric_limits<float>::infinity());
    backgroundBgr.assign(pixels, {0, 0, 0});
    for (std::size_t k = 0; k < pixels; ++k) {
        const float x = rays[2 * k];
        const float y = rays[2 * k + 1];
        if (std::isnan(x) || std::isnan(y)) {
            directions[k] = Eigen::Vector3f::Constant(std::numeric_limits<float>::quiet_NaN());
            continue;
        }
        const Eigen::Vector3d direction = R_room_view * Eigen::Vector3d(x, y, 1.0);
        directions[k] = direction.cast<float>();
        inverseLengthSquared[k] = static_cast<float>(1.0 / direction.squaredNorm());
        SurfaceHit hit;
        if (SampleRoom::intersectStatic(origin, direction, hit)) {
            backgroundT[k] = static_cast<float>(hit.t);
            backgroundBgr[k] = hit.bgr;
        }
    }
    std::mt19937 rng(kNoiseSeed);
    std::normal_distribution<float> noise(0.0f, static_cast<float>(kNoiseSigmaMm));
    noiseMm.resize(kNoiseSamples);
    for (float& sample : noiseMm)
        sample = noise(rng);
}

// Fills frameT and frameBgr; the span gets the pixels whose rays pass the plate's bounding sphere.
void SampleView::renderPlate(const PlatePose& plate)
{
    frameT = backgroundT;
    frameBgr = backgroundBgr;
    const Eigen::Vector3f toCentre = (plate.centre - origin).cast<float>();
    const float distanceSquared = toCentre.squaredNorm();
    constexpr float kRadiusSquared = kPlateSphereRadius * kPlateSphereRadius;
    span = PlateSpan{rows, 0, columns, 0};
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const std::size_t k = static_cast<std::size_t>(r) * columns + c;
            const float along = toCentre.dot(directions[k]);
            // NaN rays fail the first test; pixels whose ray passes the sphere by go on.
            if (!(along > 0.0f) || distanceSquared - along * along * inverseLengthSquared[k] > kRadiusSquared)
                continue;
            SurfaceHit hit;
            if (!SampleRoom::intersectPlate(plate, origin, directions[k].cast<double>(), hit) || hit.t >= frameT[k])
                continue;
            frameT[k] = static_cast<float>(hit.t);
            frameBgr[k] = hit.bgr;
            span.rowBegin = std::min(span.rowBegin, r);
            span.rowEnd = std::max(span.rowEnd, r + 1);
            span.columnBegin = std::min(span.columnBegin, c);
            span.columnEnd = std::max(span.columnEnd, c + 1);
        }
}

void SampleView::renderDepth(const PlatePose& plate, std::mt19937& rng, std::uint16_t* depthMm)
{
    renderPlate(plate);
    for (float& t : frameT) {
        const float z = t * kMmPerMetre;
        t = z >= kMinDepthMm && z <= kMaxDepthMm ? z : 0.0f;
    }
    dropMixedPixels();
    addNoise(rng, depthMm);
}

// The sensor loses the far side of a depth step between two surfaces in range; such steps lie
// only at the plate's outline.
void SampleView::dropMixedPixels()
{
    if (span.rowBegin >= span.rowEnd)
        return;
    const int r0 = std::max(0, span.rowBegin - 1);
    const int r1 = std::min(rows, span.rowEnd + 1);
    const int c0 = std::max(0, span.columnBegin - 1);
    const int c1 = std::min(columns, span.columnEnd + 1);
    const auto nearerNeighbour = [this](int r, int c) {
        const float here = frameT[static_cast<std::size_t>(r) * columns + c];
        const int dr[4] = {-1, 1, 0, 0};
        const int dc[4] = {0, 0, -1, 1};
        for (int i = 0; i < 4; ++i) {
            const int rr = r + dr[i];
            const int cc = c + dc[i];
            if (rr < 0 || rr >= rows || cc < 0 || cc >= columns)
                continue;
            const float there = frameT[static_cast<std::size_t>(rr) * columns + cc];
            if (there > 0.0f && here - there > kMixedPixelStepMm)
                return true;
        }
        return false;
    };
    mixed.assign(static_cast<std::size_t>(r1 - r0) * (c1 - c0), 0);
    for (int r = r0; r < r1; ++r)
        for (int c = c0; c < c1; ++c)
            mixed[static_cast<std::size_t>(r - r0) * (c1 - c0) + (c - c0)] =
                frameT[static_cast<std::size_t>(r) * columns + c] > 0.0f && nearerNeighbour(r, c);
    for (int r = r0; r < r1; ++r)
        for (int c = c0; c < c1; ++c)
            if (mixed[static_cast<std::size_t>(r - r0) * (c1 - c0) + (c - c0)])
                frameT[static_cast<std::size_t>(r) * columns + c] = 0.0f;
}

void SampleView::addNoise(std::mt19937& rng, std::uint16_t* depthMm) const
{
    std::size_t next = std::uniform_int_distribution<std::size_t>(0, kNoiseSamples - 1)(rng);
    for (std::size_t k = 0; k < frameT.size(); ++k) {
        const float z = frameT[k];
        if (z == 0.0f) {
            depthMm[k] = 0;
            continue;
        }
        const float noisy = std::round(z + noiseMm[next]);
        next = (next + 1) & (kNoiseSamples - 1);
        depthMm[k] = static_cast<std::uint16_t>(std::max(kMinDepthMm, std::min(kMaxDepthMm, noisy)));
    }
}

void SampleView::renderColor(const PlatePose& plate, std::uint8_t* bgra)
{
    renderPlate(plate);
    for (std::size_t k = 0; k < frameBgr.size(); ++k) {
        std::memcpy(bgra + 4 * k, frameBgr[k].data(), 3);
        bgra[4 * k + 3] = 255;
    }
}

} // namespace sample_scene
