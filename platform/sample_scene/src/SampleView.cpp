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
constexpr int kCoarseStep = 8; // pixels between the samples that look for the plate

} // namespace

SampleView::SampleView(const CameraPose& pose, int width, int height, const std::vector<float>& rays,
                       const Eigen::Matrix3d& R_sdk_view, const Eigen::Vector3d& t_sdk_view_m)
    : columns(width), rows(height), unitRays(rays), R_sdk_view(R_sdk_view), t_sdk_view_m(t_sdk_view_m)
{
    moveCamera(pose);
    std::mt19937 rng(kNoiseSeed);
    std::normal_distribution<float> noise(0.0f, static_cast<float>(kNoiseSigmaMm));
    noiseMm.resize(kNoiseSamples);
    for (float& sample : noiseMm)
        sample = noise(rng);
}

void SampleView::moveCamera(const CameraPose& pose)
{
    const std::size_t pixels = static_cast<std::size_t>(columns) * rows;
    origin = pose.position + pose.R_room_sdk * t_sdk_view_m;
    R_room_view = pose.R_room_sdk * R_sdk_view;
    directions.resize(pixels);
    inverseLengthSquared.assign(pixels, 0.0f);
    for (std::size_t k = 0; k < pixels; ++k) {
        const float x = unitRays[2 * k];
        const float y = unitRays[2 * k + 1];
        if (std::isnan(x) || std::isnan(y)) {
            directions[k] = Eigen::Vector3f::Constant(std::numeric_limits<float>::quiet_NaN());
            continue;
        }
        const Eigen::Vector3d direction = R_room_view * Eigen::Vector3d(x, y, 1.0);
        directions[k] = direction.cast<float>();
        inverseLengthSquared[k] = static_cast<float>(1.0 / direction.squaredNorm());
    }
    castBackground();
    stepAngle = coarseStepAngle();
}

void SampleView::furnish(const std::vector<FloorBox>& still)
{
    stillBoxes = still;
    castBackground();
}

void SampleView::castBackground()
{
    const std::size_t pixels = directions.size();
    backgroundT.assign(pixels, std::numeric_limits<float>::infinity());
    backgroundBgr.assign(pixels, {0, 0, 0});
    backgroundCos.assign(pixels, 1.0f);
    backgroundBgra.clear();
    depthsDirty = surfacesDirty = true;
    for (std::size_t k = 0; k < pixels; ++k) {
        if (std::isnan(directions[k].x()))
            continue;
        // From the ray itself, not its float copy, so that a room without boxes comes out as it
        // always has, bit for bit.
        const Eigen::Vector3d direction = R_room_view * Eigen::Vector3d(unitRays[2 * k], unitRays[2 * k + 1], 1.0);
        SurfaceHit hit;
        if (SampleRoom::intersectStatic(origin, direction, hit)) {
            backgroundT[k] = static_cast<float>(hit.t);
            backgroundBgr[k] = hit.bgr;
            backgroundCos[k] = std::abs(directions[k].y()) * std::sqrt(inverseLengthSquared[k]);
        }
        for (const FloorBox& box : stillBoxes) {
            double cosIncidence = 1.0;
            if (intersectBox(box, origin, direction, hit, cosIncidence) && hit.t < backgroundT[k]) {
                backgroundT[k] = static_cast<float>(hit.t);
                backgroundBgr[k] = hit.bgr;
                backgroundCos[k] = static_cast<float>(cosIncidence);
            }
        }
    }
}

// What moves, over the background in frameT.
void SampleView::castMoving()
{
    if (movingBoxes.empty())
        return;
    for (std::size_t k = 0; k < frameT.size(); ++k) {
        if (std::isnan(directions[k].x()))
            continue;
        for (const FloorBox& box : movingBoxes) {
            SurfaceHit hit;
            double cosIncidence = 1.0;
            if (intersectBox(box, origin, directions[k].cast<double>(), hit, cosIncidence) && hit.t < frameT[k]) {
                frameT[k] = static_cast<float>(hit.t);
                frameBgr[k] = hit.bgr;
                frameCos[k] = static_cast<float>(cosIncidence);
            }
        }
    }
}

// The largest angle (radians) between the ray of a pixel and that of the pixel kCoarseStep rows or
// columns on, so that a coarse sample stands for the pixels around it.
float SampleView::coarseStepAngle() const
{
    float largest = 0.0f;
    const auto angleBetween = [this](std::size_t a, std::size_t b) {
        const Eigen::Vector3f& u = directions[a];
        const Eigen::Vector3f& v = directions[b];
        if (std::isnan(u.x()) || std::isnan(v.x()))
            return 0.0f;
        return std::acos(std::min(1.0f, u.normalized().dot(v.normalized())));
    };
    for (int r = 0; r + kCoarseStep < rows; r += kCoarseStep)
        for (int c = 0; c + kCoarseStep < columns; c += kCoarseStep) {
            const std::size_t k = static_cast<std::size_t>(r) * columns + c;
            largest = std::max({largest, angleBetween(k, k + kCoarseStep),
                                angleBetween(k, k + static_cast<std::size_t>(kCoarseStep) * columns)});
        }
    return largest;
}

// The pixels whose rays may pass the plate's bounding sphere: coarse samples whose ray lies within
// the sphere's angular radius, widened by the angle a sample stands for, and the pixels around
// them.
SampleView::PlateSpan SampleView::plateSpan(const Eigen::Vector3f& toCentre) const
{
    PlateSpan found{rows, 0, columns, 0};
    const float distance = toCentre.norm();
    if (!(distance > kPlateSphereRadius))
        return PlateSpan{0, rows, 0, columns};
    constexpr float kDiagonal = 1.5f; // a sample stands for pixels up to a diagonal step away
    const float limit = std::asin(kPlateSphereRadius / distance) + kDiagonal * stepAngle;
    if (limit >= static_cast<float>(M_PI_2))
        return PlateSpan{0, rows, 0, columns};
    const float cosLimit = std::cos(limit);
    const Eigen::Vector3f towards = toCentre / distance;
    for (int r = 0; r < rows; r += kCoarseStep)
        for (int c = 0; c < columns; c += kCoarseStep) {
            const std::size_t k = static_cast<std::size_t>(r) * columns + c;
            const float along = towards.dot(directions[k]);
            if (!(along > 0.0f) || along * along * inverseLengthSquared[k] < cosLimit * cosLimit)
                continue;
            found.rowBegin = std::min(found.rowBegin, std::max(0, r - kCoarseStep));
            found.rowEnd = std::max(found.rowEnd, std::min(rows, r + kCoarseStep + 1));
            found.columnBegin = std::min(found.columnBegin, std::max(0, c - kCoarseStep));
            found.columnEnd = std::max(found.columnEnd, std::min(columns, c + kCoarseStep + 1));
        }
    return found;
}

void SampleView::restoreBackground()
{
    if (depthsDirty)
        frameT = backgroundT;
    if (surfacesDirty) {
        frameBgr = backgroundBgr;
        frameCos = backgroundCos;
    }
    // A colour image of a 1280 x 720 view copied its three arrays whole every frame, most of its time.
    const auto restoreSpan = [this](auto& frame, const auto& background) {
        for (int r = dirtySpan.rowBegin; r < dirtySpan.rowEnd; ++r) {
            const std::size_t begin = static_cast<std::size_t>(r) * columns + dirtySpan.columnBegin;
            const std::size_t end = begin + (dirtySpan.columnEnd - dirtySpan.columnBegin);
            std::copy(background.begin() + begin, background.begin() + end, frame.begin() + begin);
        }
    };
    if (!depthsDirty)
        restoreSpan(frameT, backgroundT);
    if (!surfacesDirty) {
        restoreSpan(frameBgr, backgroundBgr);
        restoreSpan(frameCos, backgroundCos);
    }
}

// Fills frameT, frameBgr and frameCos; the span gets the pixels the plate covers.
void SampleView::renderPlate(const PlatePose& plate)
{
    restoreBackground();
    depthsDirty = surfacesDirty = !movingBoxes.empty();
    castMoving();
    const Eigen::Vector3f toCentre = (plate.centre - origin).cast<float>();
    const float distanceSquared = toCentre.squaredNorm();
    constexpr float kRadiusSquared = kPlateSphereRadius * kPlateSphereRadius;
    const PlateSpan candidates = plateSpan(toCentre);
    const Eigen::Vector3f plateNormal = plate.n.cast<float>();
    span = PlateSpan{rows, 0, columns, 0};
    for (int r = candidates.rowBegin; r < candidates.rowEnd; ++r)
        for (int c = candidates.columnBegin; c < candidates.columnEnd; ++c) {
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
            frameCos[k] = std::abs(plateNormal.dot(directions[k])) * std::sqrt(inverseLengthSquared[k]);
            span.rowBegin = std::min(span.rowBegin, r);
            span.rowEnd = std::max(span.rowEnd, r + 1);
            span.columnBegin = std::min(span.columnBegin, c);
            span.columnEnd = std::max(span.columnEnd, c + 1);
        }
    dirtySpan = span;
}

void SampleView::renderDepth(const PlatePose& plate, std::mt19937& rng, std::uint16_t* depthMm)
{
    renderPlate(plate);
    depthFromFrame(rng, depthMm);
}

// The colour comes from frameBgr and the span, which the depth leaves as renderPlate cast them.
void SampleView::renderDepthAndColor(const PlatePose& plate, std::mt19937& rng, std::uint16_t* depthMm,
                                     std::uint8_t* bgra)
{
    renderPlate(plate);
    depthFromFrame(rng, depthMm);
    colorFromFrame(bgra);
}

void SampleView::depthFromFrame(std::mt19937& rng, std::uint16_t* depthMm)
{
    depthsDirty = true; // measured in place
    if (artefacts) {
        artefacts->startFrame(rng);
        measureWithArtefacts();
        findSteps();
        mixPixelsAtSteps();
    } else {
        measure();
        findSteps();
        dropMixedPixels();
    }
    addNoise(rng, depthMm);
}

// The depth (millimetres) the sensor reports for the surface that frameT holds at `pixel`: its
// range error moves the point along its ray. A ray of unit depth is 1 / sqrt(inverseLengthSquared)
// long, so a range error e moves the depth by e * sqrt(inverseLengthSquared).
float SampleView::measuredDepthMm(std::size_t pixel) const
{
    const float z = frameT[pixel] * kMmPerMetre;
    if (depthError.isZero())
        return z;
    return static_cast<float>((1.0 + depthError.scale) * z
                              + depthError.offsetMm * std::sqrt(static_cast<double>(inverseLengthSquared[pixel])));
}

void SampleView::measure()
{
    for (std::size_t k = 0; k < frameT.size(); ++k) {
        const float z = measuredDepthMm(k);
        frameT[k] = z >= kMinDepthMm && z <= kMaxDepthMm ? z : 0.0f;
    }
}

// As measure(), and each return in range may be lost or carries the range noise: how much light
// comes back depends on the surface's range, its brightness and the angle at which the ray meets
// it (frameCos).
void SampleView::measureWithArtefacts()
{
    constexpr float kLuminanceB = 0.114f / 255.0f;
    constexpr float kLuminanceG = 0.587f / 255.0f;
    constexpr float kLuminanceR = 0.299f / 255.0f;
    for (std::size_t k = 0; k < frameT.size(); ++k) {
        const float z = measuredDepthMm(k);
        if (!(z >= kMinDepthMm && z <= kMaxDepthMm)) {
            frameT[k] = 0.0f;
            continue;
        }
        const float inverseLength = std::sqrt(inverseLengthSquared[k]);
        const float cosIncidence = frameCos[k];
        const float rangeM = frameT[k] / inverseLength;
        const std::array<std::uint8_t, 3>& bgr = frameBgr[k];
        const float brightness = kLuminanceB * bgr[0] + kLuminanceG * bgr[1] + kLuminanceR * bgr[2];
        frameT[k] = artefacts->lost(rangeM, cosIncidence, brightness)
            ? 0.0f
            : z + artefacts->rangeNoiseMm(rangeM, cosIncidence) * inverseLength;
    }
}

// The depth steps between two surfaces in range; in a room without boxes they lie only at the
// plate's outline and its holes.
void SampleView::findSteps()
{
    steps.clear();
    const bool boxes = !stillBoxes.empty() || !movingBoxes.empty();
    if (span.rowBegin >= span.rowEnd && !boxes)
        return;
    const int r0 = boxes ? 0 : std::max(0, span.rowBegin - 1);
    const int r1 = boxes ? rows : std::min(rows, span.rowEnd + 1);
    const int c0 = boxes ? 0 : std::max(0, span.columnBegin - 1);
    const int c1 = boxes ? columns : std::min(columns, span.columnEnd + 1);
    constexpr int kNeighbours = 4;
    constexpr int dr[kNeighbours] = {-1, 1, 0, 0};
    constexpr int dc[kNeighbours] = {0, 0, -1, 1};
    for (int r = r0; r < r1; ++r)
        for (int c = c0; c < c1; ++c) {
            const std::size_t k = static_cast<std::size_t>(r) * columns + c;
            const float here = frameT[k];
            if (here == 0.0f)
                continue;
            float nearest = std::numeric_limits<float>::infinity();
            float farthest = 0.0f;
            for (int i = 0; i < kNeighbours; ++i) {
                const int rr = r + dr[i];
                const int cc = c + dc[i];
                if (rr < 0 || rr >= rows || cc < 0 || cc >= columns)
                    continue;
                const float there = frameT[static_cast<std::size_t>(rr) * columns + cc];
                if (there > 0.0f) {
                    nearest = std::min(nearest, there);
                    farthest = std::max(farthest, there);
                }
            }
            if (here - nearest > kMixedPixelStepMm)
                steps.push_back({k, nearest, true});
            else if (farthest - here > kMixedPixelStepMm)
                steps.push_back({k, farthest, false});
        }
}

// The sensor loses the far side of a depth step.
void SampleView::dropMixedPixels()
{
    for (const StepPixel& step : steps)
        if (step.farSide)
            frameT[step.pixel] = 0.0f;
}

void SampleView::mixPixelsAtSteps()
{
    for (const StepPixel& step : steps) {
        float& depth = frameT[step.pixel];
        depth = step.farSide ? artefacts->farSideOfStep(step.acrossMm, depth)
                             : artefacts->nearSideOfStep(depth, step.acrossMm);
    }
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
    colorFromFrame(bgra);
}

// The room's colours are copied whole; only the plate's span is converted pixel by pixel.
void SampleView::colorFromFrame(std::uint8_t* bgra)
{
    if (backgroundBgra.empty()) {
        backgroundBgra.resize(backgroundBgr.size() * 4);
        for (std::size_t k = 0; k < backgroundBgr.size(); ++k) {
            std::memcpy(&backgroundBgra[4 * k], backgroundBgr[k].data(), 3);
            backgroundBgra[4 * k + 3] = 255;
        }
    }
    std::memcpy(bgra, backgroundBgra.data(), backgroundBgra.size());
    for (int r = span.rowBegin; r < span.rowEnd; ++r)
        for (int c = span.columnBegin; c < span.columnEnd; ++c) {
            const std::size_t k = static_cast<std::size_t>(r) * columns + c;
            std::memcpy(bgra + 4 * k, frameBgr[k].data(), 3);
        }
}

} // namespace sample_scene
