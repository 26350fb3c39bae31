#pragma once

#include "scene/DepthCameraProcessor.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tavorin {

class HDF5RecordingReader;

// Plays up to three recordings in step: one playback thread moves every reader along one time
// axis that runs at real speed from the first recording's first timestamp, or, while held for
// calibration, to the step time that nextCalibrationFrame() asks for and then waits. process(),
// setModelMatrix() and the pace calls run on the render thread (or the GUI thread under the
// scene's frame lock); while held, the readers' buffers change only inside nextCalibrationFrame().
class HDF5CameraProcessor : public DepthCameraProcessor {
public:
    explicit HDF5CameraProcessor(const std::vector<std::string>& paths);
    ~HDF5CameraProcessor() override;

    void process(SceneState& state) override;
    void setModelMatrix(std::string name, const Mat4& matrix) override;
    void setDepthCorrection(std::string name, const DepthCorrection& correction) override;
    void holdForCalibration() override;
    CalibrationFrame nextCalibrationFrame() override;
    void resumeClock() override;
    PlaybackStatus playbackStatus() const override;
    void controlPlayback(PlaybackCommand command) override;

    // The readers that opened, in the order of the paths; fixed after construction.
    const std::vector<std::shared_ptr<HDF5RecordingReader>>& recordingReaders() const { return readers; }

private:
    void playback();
    // Playback thread, paceMutex held by `lock`: the time the readers follow now, or none while
    // held with no step asked for.
    bool clockedPass(std::unique_lock<std::mutex>& lock);
    void seekAll(double t);
    void settleAll(double t);
    // paceMutex held: the time the clock shows (the paused time while paused), starting over at
    // the end while looping.
    double clockTime();
    double shownTime();
    // Render thread: asks the playback thread for the readers at `t` and waits until they hold it.
    void moveTo(double t);
    void announceEnd();

    std::vector<std::shared_ptr<HDF5RecordingReader>> readers;
    std::thread playbackThread;
    std::atomic<bool> stopFlag{false};
    double startTimestamp = 0.0;  // seconds: frame 0 of the first reader
    double endTimestamp = 0.0;    // seconds: the last frame of the longest reader
    // Pace, guarded by paceMutex.
    mutable std::mutex paceMutex;
    std::condition_variable paceChanged;
    std::int64_t startClock = 0;  // monotonic nanoseconds at which the clock stood at startTimestamp
    bool held = false;
    bool heldFrameCalibrated = false; // render thread only
    double stepTime = 0.0;        // seconds: the held frame's step
    std::uint64_t stepsAsked = 0;
    std::uint64_t stepsLoaded = 0;
    bool paused = false;
    double pausedAt = 0.0;        // seconds: the clock's time while paused
    bool looping = false;
    bool stepOnce = false;        // paused while held: registration may take one more frame
    bool rewindHeld = false;      // held at the end: registration's next frame is the first again
    bool endAnnounced = false;
};

} // namespace tavorin
