#pragma once

#include "scene/DepthCameraProcessor.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tavorin {

class HDF5RecordingReader;

// Plays up to three recordings in step: one playback thread moves every reader along one time
// axis that runs at real speed from the first recording's first timestamp. process() and
// setModelMatrix() run on the render thread (or the GUI thread under the scene's frame lock).
class HDF5CameraProcessor : public DepthCameraProcessor {
public:
    explicit HDF5CameraProcessor(const std::vector<std::string>& paths);
    ~HDF5CameraProcessor() override;
    HDF5CameraProcessor(const HDF5CameraProcessor&) = delete;
    HDF5CameraProcessor& operator=(const HDF5CameraProcessor&) = delete;

    void process(SceneState& state) override;
    void setModelMatrix(std::string name, const Mat4& matrix) override;

    // The readers that opened, in the order of the paths; fixed after construction.
    const std::vector<std::shared_ptr<HDF5RecordingReader>>& recordingReaders() const { return readers; }

private:
    void playback();

    std::vector<std::shared_ptr<HDF5RecordingReader>> readers;
    std::thread playbackThread;
    std::atomic<bool> stopFlag{false};
    double startTimestamp = 0.0;  // seconds: frame 0 of the first reader
    std::int64_t startClock = 0; // monotonic nanoseconds when playback began
};

} // namespace tavorin
