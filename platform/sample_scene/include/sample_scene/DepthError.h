#pragma once

namespace sample_scene {

// A depth sensor's systematic error along each pixel's ray: it measures the range r (the distance
// from the camera's centre along the ray) as (1 + scale) * r + offsetMm. A point moves along its
// own ray, so its depth z becomes z * measured / r. Zero: an exact sensor.
struct DepthError {
    // The largest errors the sample scenes take: those of a sensor out of its factory calibration.
    static constexpr double kMaxOffsetMm = 50.0;
    static constexpr double kMaxScale = 0.01;

    double offsetMm = 0.0;
    double scale = 0.0; // a fraction: 0.001 is 0.1 %

    bool isZero() const { return offsetMm == 0.0 && scale == 0.0; }
};

} // namespace sample_scene
