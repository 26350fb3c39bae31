#pragma once

#include "math/Mat4.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavorin {

// A camera's still view: per pixel its depth (z in millimetres, camera frame, as the sensor
// measured it; 0: none), rows from the top.
struct StillView {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<float> depthMm;
};

// How the camera moved between its reference and a later still view, as far as the view can tell.
struct DriftEstimate {
    bool told = false;
    std::string why;                  // when not told: what the view cannot tell, or why
    Mat4 T_reference_current;         // the camera's points as it now stands -> as it stood (metres)
    double turnDeg = 0.0;             // angle of that rotation
    double shiftMm = 0.0;             // how far the camera's centre moved
    double rangeOffsetMm = 0.0;       // what the sensor now adds to every range beyond the reference's
    std::size_t agreeingPoints = 0;   // points whose residual the robust loss kept
    double agreeingShare = 0.0;       // of the points that found a surface of the reference
    double weakestToStrongest = 0.0;  // of the information matrix's eigenvalues, motions scaled to metres
    int iterations = 0;
};

// Registers `current` against `reference`, two still views of the same camera (same size, same
// rays: `rays` holds (x / z, y / z) per pixel, NaN where a pixel has none): a robust
// point-to-plane Gauss-Newton over the camera's six motions and an offset of its range, with
// correspondences found by projecting into the reference's image and a Cauchy loss whose scale
// follows the residuals, so that what changed in the room (furniture moved, people) does not
// decide. Not told when fewer than a few thousand points, or less than a fifth of them, agree with
// the reference, or when a motion is not observed by the still structure (the weakest direction of
// the information matrix below 1e-4 of the strongest: a flat floor alone cannot show a
// shift along it). Any thread; about 0.35 s for a 640 x 576 view on one core.
DriftEstimate estimateDrift(const StillView& reference, const StillView& current, const std::vector<float>& rays);

} // namespace tavorin
