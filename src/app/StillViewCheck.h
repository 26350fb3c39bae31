#pragma once

#include "calibration/drift/DepthStack.h"
#include "calibration/drift/DriftVerdict.h"
#include "math/DepthCorrection.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavorin {

struct StillViewReference;

// How many frames a camera's still view is the median of, in tavorin-check and in the window.
constexpr std::int32_t kStillViewFrames = 45;

// A camera's still view (the median of its frames) with the rays of its pixels: what a check
// compares with the reference, and what a store keeps as the next reference.
struct CameraStillView {
    StillView view;
    std::vector<float> rays; // per pixel (x / z, y / z); NaN where it never had a point
    std::int32_t frames = 0;
};

CameraStillView cameraStillView(const DepthStack& stack);

// What one camera's check found.
struct StillViewCheck {
    DriftEstimate estimate;
    DriftVerdict verdict = DriftVerdict::CannotTell;
    bool hasReference = false; // false: nothing stored to compare with (estimate.why says so)
    std::string storedAt;      // the reference's date
};

// The still view against the reference stored beside the camera's matrix file `configPath`; a
// camera without a usable reference cannot be told. Any thread.
StillViewCheck checkAgainstStoredReference(const std::string& configPath, const CameraStillView& current,
                                           const DriftLimits& limits);
// The still view against `reference`, a view of the same camera.
StillViewCheck checkAgainstReference(const StillViewReference& reference, const CameraStillView& current,
                                     const DriftLimits& limits);

// The still view as a reference dated today, with the depth correction stored with its matrix.
StillViewReference referenceOf(const CameraStillView& still, const DepthCorrection& correction);

// Stores the still view as the reference beside the camera's matrix file `configPath`
// (atomically, the previous one kept). False (said on standard error) when it cannot.
bool storeStillView(const std::string& configPath, const CameraStillView& still, const DepthCorrection& correction);

} // namespace tavorin
