#pragma once

#include <cstddef>

namespace tavorin {

// A depth sensor's systematic error along each pixel's ray, and its removal. The sensor measures
// the range (the distance from the camera's centre along the pixel's ray) as
//     measured = (1 + scale) * true + offset,
// so that offsetMm and scale describe what the sensor adds to the true range: +5 mm and +0.001 make
// a plate at 2 m look 7 mm farther. The identity (0, 0) changes nothing. A value type: the
// calibration estimates it, the depth sources remove it from every point they make.
struct DepthCorrection {
    double offsetMm = 0.0;
    double scale = 0.0; // a fraction: 0.001 is 0.1 %

    bool isIdentity() const { return offsetMm == 0.0 && scale == 0.0; }
    // The error the sensor adds at a true range of `rangeM` metres, in millimetres.
    double errorMmAt(double rangeM) const { return offsetMm + scale * rangeM * 1000.0; }

    // Moves `count` points (x, y, z and a fourth float, metres, camera frame) along their rays to
    // the true range. Points at the origin and NaN points stay as they are.
    void removeFrom(float* points, std::size_t count) const;
    // The inverse: a true point (x, y, z, metres) as the sensor measures it.
    void addTo(float& x, float& y, float& z) const;
};

} // namespace tavorin
