#pragma once

#include "base/NonCopyable.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_decompressor;

namespace tavorin {

// Reads one frame of a data set whose frames lie along its last dimension, stored one frame per
// chunk with deflate (optionally after the byte shuffle): the raw chunk is read and inflated
// straight into the caller's buffer, without the library's filter pipeline, chunk cache and
// conversion buffers. Any other layout, filter, stored type or chunk is left to the caller's
// general read: attach() and the reads return false for it. Playback thread only.
class FrameChunkReader : NonCopyable {
public:
    FrameChunkReader() = default;
    ~FrameChunkReader();

    // True when frames of `set` (each frameElements values of the little-endian unsigned type
    // of elementBytes bytes, 1 or 2) can be read this way.
    // `set` is the data set's hid_t, borrowed: it must stay open while this reader is used.
    bool attach(std::int64_t set, std::size_t elementBytes, std::size_t frameElements);
    // The frame's 16-bit values as floats. False: use the general read for this frame.
    bool readAsFloats(std::uint64_t frame, float* out);
    // The frame's 16-bit values as they are. False: use the general read for this frame.
    bool readAsUint16(std::uint64_t frame, std::uint16_t* out);
    // The frame's bytes. False: use the general read for this frame.
    bool readBytes(std::uint64_t frame, std::uint8_t* out);

private:
    bool inflateChunk(std::uint64_t frame, std::uint8_t* out);

    std::int64_t dataSet = -1;
    int rank = 0;
    std::size_t elementSize = 0;
    std::size_t frameBytes = 0;
    bool shuffled = false;
    libdeflate_decompressor* decompressor = nullptr;
    std::vector<std::uint8_t> compressed;
    std::vector<std::uint8_t> inflatedValues; // 16-bit frames: the chunk before widening
};

} // namespace tavorin
