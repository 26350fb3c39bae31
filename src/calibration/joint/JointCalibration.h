#pragma once

#include "math/DepthCorrection.h"
#include "calibration/detection/LatticeDetectionResult.h"
#include "calibration/joint/PlateObservation.h"
#include "math/Mat4.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tavorin {

// What the joint estimate says of one camera.
struct JointCameraEstimate {
    bool calibrated = false;
    std::string reason;           // why not, when not calibrated
    Mat4 T_camera0_camera;        // metres; the identity for camera 0 and for a camera not calibrated
    DepthCorrection depthError;   // what its sensor adds to the range of the points it was given
    double holeRmsMm = 0.0;       // of its hole residuals within the robust loss's reach
    std::size_t holeCount = 0;    // hole observations that entered the estimate
    double holeInlierShare = 0.0; // of them, the share within the robust loss's reach
    std::size_t frameSets = 0;    // frame sets in which it saw the plate
    double meanPlateDistanceM = 0.0;
    double plateDistanceSpreadM = 0.0; // standard deviation of the holes' ranges: how well its
                                       // depth offset and scale can be told apart
    // 1 sigma from the solution's covariance, robust to errors shared within a frame set: the
    // rotation's angle, the translation's length, the depth error at the mean plate distance.
    double sigmaRotationDeg = 0.0;
    double sigmaTranslationMm = 0.0;
    double sigmaDepthMm = 0.0;
    // How far its stamps are ahead of camera 0's clock (seconds), found from the plate's motion
    // between frame sets, and its 1 sigma. Where the motion does not tell it (clockOffsetWhy says
    // why) it stays 0: the camera's stamps are taken as they are. Camera 0 is the clock.
    double clockOffsetSeconds = 0.0;
    double sigmaClockOffsetMs = 0.0;
    bool clockOffsetObservable = false;
    std::string clockOffsetWhy;
};

struct JointEstimate {
    std::vector<JointCameraEstimate> cameras;
    bool converged = false;
    int iterations = 0;
};

// One calibration of every camera at once: every camera's pose (camera 0 the reference), the
// plate's pose at every instant at which a camera found it, each camera's depth error (offset and
// scale of the range) and its clock's offset from camera 0's, fitted to every found hole of every
// frame set against the plate's known lattice under a robust loss. A camera whose stamps are late
// saw the plate where the others saw it a moment before, consistently along the plate's motion, so
// each camera's view of a frame set is placed at its stamp less its offset on the plate's motion
// between frame sets (fitted to the neighbouring sets' plates); as the plate changes speed and
// direction, the offset separates from the pose. The start is chained along the cameras' graph (edges: the frame sets
// two cameras share), so that a camera that never sees the plate together with camera 0 is
// calibrated through the others. Holds the frame sets as values: one thread at a time; a copy may
// be solved on another thread.
class JointCalibration {
public:
    explicit JointCalibration(std::size_t cameraCount = 0);

    std::size_t cameraCount() const { return cameras; }
    // One frame set: per camera (in camera order) its lattice search at one instant and the depth
    // correction its source had removed from the points (none: empty). The estimate works on the
    // points as the sensors measured them, so its depth errors are the sensors' own. `capturedAt`:
    // the set's instant on camera 0's clock (seconds), to which every camera's view was brought
    // by its own stamps; sets without it tell nothing of the clocks. A set in which no camera
    // found the lattice adds nothing.
    void addFrameSet(const std::vector<LatticeDetectionResult>& detections,
                     const std::vector<DepthCorrection>& removed = {},
                     std::optional<double> capturedAt = std::nullopt);
    std::size_t frameSetCount() const { return sets.size(); }
    // Keeps every second set once they are more than `maxSets`, so that a long live calibration
    // stays quick to solve.
    void thinTo(std::size_t maxSets);

    // The estimate over every set added so far.
    JointEstimate solve() const;

private:
    std::size_t cameras;
    std::vector<std::vector<std::optional<PlateObservation>>> sets;
    std::vector<double> times; // per set, its capturedAt; NaN without
};

} // namespace tavorin
