#pragma once

#include "scene/DepthCameraProcessor.h"

#include <memory>
#include <string>
#include <vector>

namespace tavorin {
class HDF5RecordingReader;
class WorkerPool;
} // namespace tavorin

// A recording source without a playback thread: the recordings, opened and their first frames
// loaded at once, are moved along their common time axis by their caller (the detection pipeline)
// as fast as the machine allows. One caller thread at a time.
class SteppedRecordingSource : public tavorin::DepthCameraProcessor {
public:
    SteppedRecordingSource();
    ~SteppedRecordingSource();

    // Opens every path; false (the reader has reported why) when one cannot be read.
    bool open(const std::vector<std::string>& paths);

    void process(tavorin::SceneState& state) override;
    void setModelMatrix(std::string name, const tavorin::Mat4& matrix) override;
    void setDepthCorrection(std::string name, const tavorin::DepthCorrection& correction) override;

    const std::vector<std::shared_ptr<tavorin::HDF5RecordingReader>>& recordingReaders() const { return readers; }

private:
    std::vector<std::shared_ptr<tavorin::HDF5RecordingReader>> readers;
    std::unique_ptr<tavorin::WorkerPool> loaders;
};
