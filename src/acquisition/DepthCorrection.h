#pragma once

#include <cstddef>
#include <string>

namespace tavorin {

// A depth sensor's systematic error along each pixel's ray, and its removal. The sensor measures
// the range (the distance from the camera's centre along the pixel's ray) as
//     measured = (1 + scale) * true + offset,
// so that offsetMm and scale describe what the sensor adds to the true range: +5 mm and +0.001 make
// a plate at 2 m look 7 mm farther. The identity (0, 0) changes nothing. A value type: the
// calibration estimates it, the depth sources apply it to every point they make.
struct DepthCorrection {
    double offsetMm = 0.0;
    double scale = 0.0; // a fraction: 0.001 is 0.1 %

    bool isIdentity() const { return offsetMm == 0.0 && scale == 0.0; }
    // The error the sensor adds at a true range of `rangeM` metres, in millimetres.
    double errorMmAt(double rangeM) const { return offsetMm + scale * rangeM * 1000.0; }
    // The error of a sensor whose points were already corrected by `first` and still err by this.
    DepthCorrection after(const DepthCorrection& first) const;

    // Moves `count` points (x, y, z and a fourth float, metres, camera frame) along their rays to
    // the true range. Points at the origin and NaN points stay as they are.
    void removeFrom(float* points, std::size_t count) const;
};

// The file of a camera's correction beside its model-matrix file: "<stem>.depth.json" for
// "<stem>.json"; empty for an empty path.
std::string depthCorrectionPath(const std::string& modelMatrixPath);

// Reads the file: true with `correction` set when it holds finite "offsetMm" and "scale" of
// plausible size (|offset| <= 100 mm, |scale| <= 5 %); otherwise the correction stays as it is
// (a missing file silently, any other reason with one line on standard error).
bool loadDepthCorrection(const std::string& path, DepthCorrection& correction);

// Writes the file atomically, keeping the file it replaces as configuration files are kept, and
// prints "Stored depth correction to <path>"; false, with the reason on standard error, when it
// cannot.
bool writeDepthCorrection(const std::string& path, const DepthCorrection& correction);

} // namespace tavorin
