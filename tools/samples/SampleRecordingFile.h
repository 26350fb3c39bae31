#pragma once

#include "base/NonCopyable.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavorin {
class FrameChunkEncoder;
}

// Writes one sample recording in the playback layout: depth (uint16 millimetres), colour (B, G,
// R, A; none without `colour`), per-frame pinhole parameters, the raw calibration and the timestamps; the frame index
// is the last dimension, the frame data sets are chunked one frame per chunk and compressed.
class SampleRecordingFile : tavorin::NonCopyable {
public:
    SampleRecordingFile(const std::string& path, int width, int height, int frames, int parameterCount,
                        bool colour = true);
    ~SampleRecordingFile();

    bool ok() const { return file >= 0; }
    // `bgra` is not read for a file without colour.
    void writeFrame(int frame, const std::uint16_t* depthMm, const std::uint8_t* bgra, const float* parameters);
    // With the terminating NUL or without it: recordings come both ways.
    void writeRawCalibration(const std::string& blob, bool withNul);
    void writeTimestamps(const std::vector<double>& seconds);

private:
    std::int64_t file = -1;
    std::int64_t depth = -1;
    std::int64_t colour = -1;
    std::int64_t parameters = -1;
    int width, height, frames, parameterCount;
    std::unique_ptr<tavorin::FrameChunkEncoder> encoder;
};
