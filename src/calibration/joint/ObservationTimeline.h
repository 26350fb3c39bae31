#pragma once

#include "calibration/detection/LatticeDetectionResult.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

namespace tavorin {

// A frame's lattice search and its capture time (seconds); the detection is borrowed.
struct TimedDetection {
    double t = 0.0;
    const LatticeDetectionResult* detection = nullptr;
};

// A frame set the timeline resolved: per camera (in camera order) its observation at the
// reference camera's capture time t (seconds, the reference's clock).
struct InstantFrameSet {
    double t = 0.0;
    std::vector<LatticeDetectionResult> detections;
};

// The plate at time t between frames[before] and frames[before + 1] of one camera (times
// increasing). Every frame's plate is taken as a rigid motion of frames[before]'s (fitted to their
// matched holes); a polynomial through all the frames' times (a line for two frames, a cubic for
// four) carries that motion's rotation vector and the plate's centroid to t, and the holes of the
// two frames around t, carried there, are averaged by nearness. The plate keeps its shape: a
// straight line between the holes would cut its turn short and shrink it, and two frames alone
// cut a curved path short. A t a little outside the two frames carries the plate on. Empty when a
// frame lacks the lattice or the frames disagree too much to be the same plate moments apart.
std::optional<LatticeDetectionResult> interpolateAlong(const std::vector<TimedDetection>& frames, std::size_t before,
                                                       double t);
// The same between two frames, at weight w from a (0) to b (1).
std::optional<LatticeDetectionResult> interpolateDetection(const LatticeDetectionResult& a,
                                                           const LatticeDetectionResult& b, float w);

// Brings the cameras' plate observations to one instant: the reference camera's capture time.
// Cameras without a sync cable capture up to a frame period apart while the plate moves, so the
// frames taken in one cycle show it at different poses. Every other camera's observation is
// interpolated between its two frames around the reference capture (or, when it was captured
// within a millisecond of it, carried the rest of the way along its neighbouring frame); when a camera's later frame has not arrived yet, the
// reference observation waits for it. A camera that cannot be brought to an instant (it dropped
// frames around it, its frames are too far apart, it never delivered a later frame) is left out
// of that instant's set, which the others keep, and the instant is counted as unresolved. Holds
// no shared state: one thread at a time.
class ObservationTimeline {
public:
    explicit ObservationTimeline(std::size_t cameraCount = 0, std::size_t referenceCamera = 0);

    // One cycle's records: per camera its capture time (seconds, one clock for all cameras) and
    // its lattice search. A camera whose capture time equals its newest one delivered no new frame
    // and adds nothing; one whose time runs backwards (a recording started over) restarts the
    // whole timeline. Returns the frame sets resolved by it, oldest first, each with its reference
    // capture time: per camera, its observation then (found false where the camera did not see
    // the plate then). Every reference capture is such an instant, also one at which the reference
    // did not see the plate and others did; a set in which no camera saw it is not returned. The
    // counts below take only the instants at which the reference saw the plate: resolved when
    // every camera was brought to it, unresolved when one was left out.
    std::vector<InstantFrameSet> add(const std::vector<double>& timestamps,
                                     const std::vector<LatticeDetectionResult>& detections);

    std::size_t resolvedCount() const { return resolved; }
    std::size_t unresolvedCount() const { return unresolved; }
    // Seconds between the earliest and the latest capture of the last cycle's records.
    double lastSpread() const { return spread; }
    std::size_t cameraCount() const { return histories.size(); }

private:
    struct Frame {
        double timestamp = 0.0;
        LatticeDetectionResult detection;
    };
    enum class Outcome { Resolved, Waiting, Unresolved };

    void restart();
    static LatticeDetectionResult nearInstant(const std::deque<Frame>& history,
                                              std::deque<Frame>::const_iterator frame, double t);
    // Camera `camera`'s observation at time t, or why there is none yet; `now`, the newest
    // reference capture, tells how long a cubic's fourth frame may still be waited for.
    Outcome observationAt(std::size_t camera, double t, double now, LatticeDetectionResult& observation) const;

    std::size_t reference;
    std::vector<std::deque<Frame>> histories; // per camera, oldest first
    std::deque<Frame> pending;                // reference frames with the lattice, not resolved yet
    std::size_t resolved = 0;
    std::size_t unresolved = 0;
    double spread = 0.0;
};

} // namespace tavorin
