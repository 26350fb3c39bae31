#pragma once

#include <cstddef>
#include <random>
#include <vector>

namespace sample_scene {

// The random faults of a time-of-flight depth sensor beyond its systematic error: range noise that
// grows with the range and on oblique surfaces; returns too weak to measure (dark surfaces far
// away, surfaces seen at grazing angles) and a few pixels lost at random; and mixed pixels at depth
// steps, whose footprint straddles a near and a far surface: the device drops most of them and
// leaves the rest at a depth between the two, flying in front of the far surface. The random
// numbers come from fixed tables, read each frame from a start that the caller's generator picks,
// so that a scene comes out the same every time.
class DepthArtefacts {
public:
    DepthArtefacts();

    // Picks where this frame's random numbers start.
    void startFrame(std::mt19937& rng);
    // Whether the return of a surface `rangeM` metres away is lost. `cosIncidence`: of the angle
    // between the ray and the surface normal; `brightness`: 0 to 1, how bright the sensor's own
    // light makes the surface at 1 m.
    bool lost(float rangeM, float cosIncidence, float brightness);
    // One draw of the range error, millimetres along the ray.
    float rangeNoiseMm(float rangeM, float cosIncidence);
    // The depth (millimetres, 0: dropped) of a pixel on the far side of a depth step, `nearMm` its
    // nearer neighbour's, `farMm` its own.
    float farSideOfStep(float nearMm, float farMm);
    // The same for a pixel on the near side, next to a farther one.
    float nearSideOfStep(float nearMm, float farMm);

private:
    float uniform();
    float normal();

    std::vector<float> uniforms;
    std::vector<float> normals;
    std::size_t nextUniform = 0;
    std::size_t nextNormal = 0;
};

} // namespace sample_scene
