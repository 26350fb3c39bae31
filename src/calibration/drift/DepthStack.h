#pragma once

#include "math/DepthCorrection.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavorin {

// A camera's frames gathered for its still view: per pixel the depth of every frame and the
// pixel's unit-depth ray. One thread at a time.
class DepthStack {
public:
    // Keeps up to `maxFrames` frames of `width` x `height` pixels; later frames are not taken.
    DepthStack(std::int32_t width, std::int32_t height, std::int32_t maxFrames);

    // Takes one frame's points (width * height * 4 floats: x, y, z in metres, camera frame, as
    // DepthCameraData holds them) from which their source removed `removed`; the correction is put
    // back, so that the stack holds what the sensor measured.
    void add(const float* points, const DepthCorrection& removed);

    // Per pixel the median z (millimetres) of the pixels that kept still: measured in at least half
    // of the frames, and the middle half of their depths within a few millimetres of each other
    // (the plate, people, anything that moved through the view is left out); 0 elsewhere.
    std::vector<float> stillDepthMm() const;

    // Per pixel (x / z, y / z) of its point, from the first frame in which it had one; NaN where it
    // never had one.
    const std::vector<float>& rays() const { return unitRays; }

    std::int32_t width() const { return columns; }
    std::int32_t height() const { return rows; }
    std::int32_t frames() const { return count; }

private:
    std::int32_t columns;
    std::int32_t rows;
    std::int32_t capacity;
    std::int32_t count = 0;
    std::vector<float> depthMm; // frame after frame, 0 where a pixel has none
    std::vector<float> unitRays;
};

} // namespace tavorin
