#pragma once

#include "base/Processor.h"
#include "math/DepthCorrection.h"
#include "math/Mat4.h"

#include <cstdint>
#include <string>

namespace tavorin {

struct SceneState;

// What one calibration cycle gets from its depth source.
enum class CalibrationFrame {
    Newest, // live cameras: the newest frame of every camera, as process() gives it
    Next,   // recordings: their next frame in order, which process() gives from now on
    None,   // recordings at their end: nothing left to calibrate
};

// Where a recording source stands, for the window's transport; `available` is false for sources
// that do not play recordings.
struct PlaybackStatus {
    bool available = false;
    bool paused = false;
    bool looping = false;
    bool ended = false;          // past the last frame, and not looping
    std::uint32_t frame = 0;     // 1-based, of the first recording
    std::uint32_t frames = 0;    // of the first recording
    double seconds = 0.0;        // since the first recording's first frame
    double lengthSeconds = 0.0;  // to the last frame of the longest recording
};

// What the window's transport asks of a recording source. Play at the end starts over; Step
// moves a paused source to the first recording's next frame (or, while registration holds it,
// lets registration take one more frame).
enum class PlaybackCommand { Play, Pause, Step, LoopOn, LoopOff };

// The depth source: asked once per rendered frame (render thread) to refill the state's camera
// records. Destroying a source stops its capture or playback threads before its buffers go.
class DepthCameraProcessor : public Processor {
public:
    DepthCameraProcessor() = default;
    virtual ~DepthCameraProcessor() = default;
    // A source owns the threads and buffers that its records point into: it is never copied.
    DepthCameraProcessor(const DepthCameraProcessor&) = delete;
    DepthCameraProcessor& operator=(const DepthCameraProcessor&) = delete;

    // Gives the first camera whose name matches byte for byte a new model matrix; no match: nothing.
    virtual void setModelMatrix(std::string name, const Mat4& matrix) = 0;
    // Gives that camera the depth error to remove from the points it makes from its next frame on;
    // a source that makes no points of its own ignores it.
    virtual void setDepthCorrection(std::string name, const DepthCorrection& correction)
    {
        (void)name;
        (void)correction;
    }

    // The pace of registration; render thread. A recording source stops following its clock and
    // holds the frame it is at, so that registration takes every frame in order at its own speed;
    // a live source does nothing.
    virtual void holdForCalibration() {}
    // Once per calibration cycle, before it reads the records (holds first if not yet held). A
    // recording source answers Next with the held frame the first time, then moves its readers
    // to the next step of 1/30 s and waits until they hold it; None once past their last frame.
    virtual CalibrationFrame nextCalibrationFrame() { return CalibrationFrame::Newest; }
    // When registration stops: a recording source plays on its clock again from the held frame.
    virtual void resumeClock() {}
    // Around one calibration cycle on the newest frames: a live source keeps its capture threads
    // from overwriting the records' buffers until releaseFrames(), and brings the records' capture
    // times to the frames they now hold (a wired chain's frames once they are one capture, waiting
    // up to about a frame period for that). Render thread; a recording source does nothing.
    virtual void holdFrames(SceneState& state) { (void)state; }
    virtual void releaseFrames() {}
    // Whether the view, while registering, draws the frames held as for a cycle: a source whose
    // capture threads overwrite the drawn buffers in place. A network source picks each camera's
    // frame of one instant itself, and holding it through a slow draw stalls its receive thread.
    virtual bool drawsHeldFrames() const { return false; }
    // After a cycle on held frames, once they are released: waits until every camera has published
    // its next capture and holds those as holdFrames does; false (nothing held) when the source has
    // nothing to gain from it or the captures do not come within about a frame period. Cameras that
    // capture apart are brought to one instant from two consecutive frames each, which a cycle on
    // the newest frames alone sees only when the view renders at the cameras' rate. Render thread;
    // a recording source and a wired chain answer false.
    virtual bool holdNextFrames(SceneState& state)
    {
        (void)state;
        return false;
    }
    // The transport of a recording source; render thread.
    virtual PlaybackStatus playbackStatus() const { return PlaybackStatus{}; }
    virtual void controlPlayback(PlaybackCommand command) { (void)command; }
    // How the source's cameras are wired for synchronisation ("standalone", "synchronised, N
    // subordinates"); empty for a source without wiring, such as recordings.
    virtual std::string syncMode() const { return std::string(); }
};

} // namespace tavorin
