#pragma once

#include "acquisition/DepthCameraProcessor.h"

#include <memory>
#include <string>
#include <vector>

namespace tavorin {
class HDF5RecordingReader;
}

// A recording source without a playback thread: the caller moves all readers along their common
// time axis with step(), as fast as the machine allows. Single-threaded.
class SteppedRecordingSource : public tavorin::DepthCameraProcessor {
public:
    // Opens every path; false (the reader has reported why) when one cannot be read.
    bool open(const std::vector<std::string>& paths);

    // Seconds: frame 0 of the first recording, and the last frame of the longest one.
    double startTime() const;
    double endTime() const;
    // Every reader seeks toward time t (seconds on the recordings' clock) by the playback rule.
    void step(double t);
    // Whether every reader's frame was taken within half a frame of t: recordings that dropped
    // frames at different instants hold a frame of another moment instead.
    bool framesTakenTogether(double t) const;

    void process(tavorin::SceneState& state) override;
    void setModelMatrix(std::string name, const tavorin::Mat4& matrix) override;

    const std::vector<std::shared_ptr<tavorin::HDF5RecordingReader>>& recordingReaders() const { return readers; }

private:
    std::vector<std::shared_ptr<tavorin::HDF5RecordingReader>> readers;
};
