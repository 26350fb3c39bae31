#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tavorin {

// The fields of a ROS 2 sensor_msgs/CameraInfo that turn a depth pixel into a ray. Pixel centres
// lie at integer coordinates (column u, row v, from the top left), as ROS and OpenCV count them.
struct CameraInfoFields {
    std::uint32_t width = 0, height = 0; // pixels
    std::string distortionModel;         // "rational_polynomial" or "plumb_bob"
    // rational_polynomial: (k1, k2, p1, p2, k3, k4, k5, k6); plumb_bob: (k1, k2, p1, p2, k3).
    std::vector<double> d;
    std::array<double, 9> k{}; // row-major: fx 0 cx / 0 fy cy / 0 0 1, in pixels
};

// Empty when `info` describes a camera whose rays can be computed, else one line that says what is
// wrong. Accepted: each side 1 to `maxSide` pixels; K finite and of the pinhole form above with
// positive focal lengths and the principal point at most half the image's size outside it;
// "rational_polynomial" with at least 8 and "plumb_bob" with at least 5 finite coefficients, any
// further ones 0 (OpenCV's thin-prism and tilt terms, which the model here does not have).
// Anything else is refused, "equidistant" (fisheye) and an empty model (uncalibrated) included.
std::string cameraInfoFault(const CameraInfoFields& info, std::uint32_t maxSide);

// Per pixel, row-major from the top left, the (x, y) of its ray at unit depth in the optical frame
// (x right, y down, z forward): the pixel's point at depth z is z * (x, y, 1). The undistortion is
// exact to 1e-12 in normalised units. (NaN, NaN) where no ray of the model's valid region reaches
// the pixel: the region around the optical axis where the radial factor's denominator is positive
// and the distorted radius still grows with the radius, so that every pixel has at most one ray.
// `info` must pass cameraInfoFault. Takes some milliseconds for 640 x 576: build it once per model.
std::vector<float> unitDepthRays(const CameraInfoFields& info);

// The same rays in doubles, before rounding to floats: unitDepthRays is this table converted.
std::vector<double> unitDepthRaysDouble(const CameraInfoFields& info);

// A rational_polynomial CameraInfo as the Azure Kinect ROS driver publishes it: focal lengths and
// principal point in pixels, d = (k1, k2, p1, p2, k3, k4, k5, k6).
CameraInfoFields rationalPolynomialInfo(std::uint32_t width, std::uint32_t height, double fx, double fy,
                                        double cx, double cy, const std::array<double, 8>& d);

// The pixel (u, v) that the ray (x, y, 1) of the optical frame meets through the lens model; false,
// leaving u and v as they are, where the radial factor's denominator is not positive. Beyond the
// valid region of unitDepthRays the projection is still defined, but not one-to-one. `info` must
// pass cameraInfoFault.
bool projectToPixel(const CameraInfoFields& info, double x, double y, double& u, double& v);

} // namespace tavorin
