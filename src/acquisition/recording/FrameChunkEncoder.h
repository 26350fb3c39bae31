#pragma once

#include "base/NonCopyable.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct libdeflate_compressor;

namespace tavorin {

// One frame's chunk as HDF5's filter pipeline of shuffle (values wider than a byte) and deflate
// stores it, made here with libdeflate, several times faster than the library's zlib filter; the
// caller writes it straight into the file (H5Dwrite_chunk), and any HDF5 reader inflates it. One
// thread at a time.
class FrameChunkEncoder : NonCopyable {
public:
    // deflate level 1 (fastest) to 12 (smallest).
    explicit FrameChunkEncoder(int level);
    ~FrameChunkEncoder();

    // False when libdeflate has no compressor for the level.
    bool valid() const { return compressor != nullptr; }
    // Encodes `bytes` bytes of values `elementBytes` wide, shuffled first when they are wider than
    // a byte (as HDF5's shuffle filter, which leaves single bytes as they are). False when it
    // cannot; the chunk is then empty.
    bool encode(const void* values, std::size_t bytes, std::size_t elementBytes);
    // The largest chunk that `bytes` bytes of values can encode to.
    std::size_t bound(std::size_t bytes) const;
    // The last encoded chunk; valid until the next encode.
    const std::uint8_t* data() const { return compressed.data(); }
    std::size_t size() const { return chunkBytes; }

private:
    libdeflate_compressor* compressor = nullptr;
    std::vector<std::uint8_t> shuffled;
    std::vector<std::uint8_t> compressed;
    std::size_t chunkBytes = 0;
};

} // namespace tavorin
