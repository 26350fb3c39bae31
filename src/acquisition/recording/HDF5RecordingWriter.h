#pragma once

#include "base/NonCopyable.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavorin {

class FrameChunkEncoder;

// Writes one recording in the layout the playback reads: depth (unsigned 16-bit millimetres),
// per-frame camera parameters, timestamps (seconds), optional B, G, R, A colour, the raw
// calibration and a network camera's ROS namespace and frame id (each NUL-terminated text). The
// frame data sets grow by one frame per append and hold one frame per chunk, compressed here
// (FrameChunkEncoder: byte shuffle for 16-bit values, then deflate) and written straight into the
// file. The file is written under `path` + ".part" and renamed to `path` by finish(): a recording
// that ended early (a write failed, the disk is full) is cut back to its last complete frame, so
// what is at `path` always plays; a frame is written only while the disk (and the process's file
// size limit) leaves room to close the file after it. One thread at a time.
class HDF5RecordingWriter : NonCopyable {
public:
    struct Layout {
        std::int32_t width = 0;
        std::int32_t height = 0;
        bool withColor = true;
        std::vector<float> cameraParameters; // the same row for every frame
        std::string rawCalibration;          // without its NUL; empty: no raw calibration data set
        std::string rosNamespace;            // a network camera's; empty: no such data set
        std::string rosFrameId;              // the frame_id of its images; empty: no such data set
    };

    // deflate levels 1 (fastest) to 12 (smallest); the defaults are what bench_recording picked.
    static constexpr int kDefaultDepthLevel = 1;
    static constexpr int kDefaultColorLevel = 1;

    HDF5RecordingWriter(int depthLevel = kDefaultDepthLevel, int colorLevel = kDefaultColorLevel);
    ~HDF5RecordingWriter();

    // Creates the temporary file; an existing file at `path` is never replaced. False with the
    // reason in error().
    bool create(const std::string& path, const Layout& layout);
    // depthMm: width x height; bgra: width x height x 4, ignored without colour. False when the
    // frame could not be written (the reason in error()); the frames before it stay.
    bool append(const std::uint16_t* depthMm, const std::uint8_t* bgra, double timestampSeconds);
    // Completes the file and renames it. Without a frame the temporary file is removed and the
    // answer is false.
    bool finish();

    std::uint64_t frames() const { return committedFrames; }
    std::uint64_t bytesWritten() const { return compressedBytes; }
    const std::string& error() const { return failure; }
    const std::string& path() const { return finalPath; }
    std::string temporaryPath() const { return finalPath + ".part"; }

private:
    struct FrameSet;
    bool createSets();
    bool writeText(const char* setName, const std::string& text);
    bool roomForFrame() const;
    bool extendTo(std::uint64_t frames);
    bool writeFrameChunk(FrameSet& set, const void* values, std::size_t elementBytes, FrameChunkEncoder* encoder);
    bool fail(const std::string& reason);
    bool cutBackAndClose();
    void discard();

    Layout layout;
    std::string finalPath;
    std::string failure;
    std::int64_t file = -1;
    std::unique_ptr<FrameSet> depth, color, parameters, timestamps;
    std::unique_ptr<FrameChunkEncoder> depthEncoder, colorEncoder;
    std::uint64_t committedFrames = 0;
    std::uint64_t compressedBytes = 0;
    bool failed = false;
};

} // namespace tavorin
