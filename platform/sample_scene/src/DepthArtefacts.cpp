#include "sample_scene/DepthArtefacts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace sample_scene {

namespace {

constexpr std::size_t kTableSize = std::size_t(1) << 20;
constexpr std::uint32_t kTableSeed = 5151u;

// A chance that grows linearly from 0 where `value` is `kept` to 1 where it is `lost`.
float chanceBetween(float value, float kept, float lost)
{
    return std::clamp((value - kept) / (lost - kept), 0.0f, 1.0f);
}

} // namespace

DepthArtefacts::DepthArtefacts() : uniforms(kTableSize), normals(kTableSize)
{
    std::mt19937 rng(kTableSeed);
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    for (float& u : uniforms)
        u = uniform(rng);
    for (float& n : normals)
        n = normal(rng);
}

void DepthArtefacts::startFrame(std::mt19937& rng)
{
    std::uniform_int_distribution<std::size_t> start(0, kTableSize - 1);
    nextUniform = start(rng);
    nextNormal = start(rng);
}

// The returned light falls with the square of the range and with the surface's brightness under
// the sensor's light; below a level the pixel reads nothing. At grazing angles the return is lost
// whatever its level. The levels lose some of the floor's grout beyond about 3.5 m and of the dark
// handle beyond about 2.5 m, and keep the tiles to the end of the range.
bool DepthArtefacts::lost(float rangeM, float cosIncidence, float brightness)
{
    constexpr float kSignalKept = 0.03f; // brightness at 1 m over the range squared
    constexpr float kSignalLost = 0.015f;
    constexpr float kCosKept = 0.20f;    // 78 degrees
    constexpr float kCosLost = 0.10f;    // 84 degrees
    constexpr float kRandomLoss = 0.001f;
    const float signal = brightness / (rangeM * rangeM);
    const float chance = chanceBetween(signal, kSignalKept, kSignalLost)
        + chanceBetween(cosIncidence, kCosKept, kCosLost) + kRandomLoss;
    return uniform() < chance;
}

// About 1 mm per metre of range, face-on; more as the surface turns away and returns less light.
float DepthArtefacts::rangeNoiseMm(float rangeM, float cosIncidence)
{
    constexpr float kSigmaMmPerMetre = 1.0f;
    constexpr float kMinCos = 0.05f;
    return normal() * kSigmaMmPerMetre * rangeM / std::sqrt(std::max(cosIncidence, kMinCos));
}

// A far-side pixel sees mostly the far surface and a sliver of the near one; the device's filter
// drops most of them.
float DepthArtefacts::farSideOfStep(float nearMm, float farMm)
{
    constexpr float kLeftShare = 0.3f;
    if (uniform() >= kLeftShare)
        return 0.0f;
    return nearMm + uniform() * (farMm - nearMm);
}

// A near-side pixel sees mostly the near surface: a few of them are pulled back toward the far one.
float DepthArtefacts::nearSideOfStep(float nearMm, float farMm)
{
    constexpr float kMixedShare = 0.1f;
    constexpr float kMostPull = 0.5f; // of the step
    if (uniform() >= kMixedShare)
        return nearMm;
    return nearMm + kMostPull * uniform() * (farMm - nearMm);
}

float DepthArtefacts::uniform()
{
    const float u = uniforms[nextUniform];
    nextUniform = (nextUniform + 1) & (kTableSize - 1);
    return u;
}

float DepthArtefacts::normal()
{
    const float n = normals[nextNormal];
    nextNormal = (nextNormal + 1) & (kTableSize - 1);
    return n;
}

} // namespace sample_scene
