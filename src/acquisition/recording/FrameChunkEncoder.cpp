#include "acquisition/recording/FrameChunkEncoder.h"

#include <libdeflate.h>

namespace tavorin {

namespace {

// HDF5's shuffle filter: the first bytes of every value, then the second bytes.
void shuffleBytes(const std::uint8_t* values, std::size_t count, std::size_t elementBytes, std::uint8_t* out)
{
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t b = 0; b < elementBytes; ++b)
            out[b * count + i] = values[i * elementBytes + b];
}

} // namespace

FrameChunkEncoder::FrameChunkEncoder(int level) : compressor(libdeflate_alloc_compressor(level)) {}

FrameChunkEncoder::~FrameChunkEncoder()
{
    libdeflate_free_compressor(compressor);
}

std::size_t FrameChunkEncoder::bound(std::size_t bytes) const
{
    return libdeflate_zlib_compress_bound(compressor, bytes);
}

bool FrameChunkEncoder::encode(const void* values, std::size_t bytes, std::size_t elementBytes)
{
    chunkBytes = 0;
    if (!compressor || elementBytes == 0)
        return false;
    const auto* raw = static_cast<const std::uint8_t*>(values);
    if (elementBytes > 1) {
        shuffled.resize(bytes);
        shuffleBytes(raw, bytes / elementBytes, elementBytes, shuffled.data());
        raw = shuffled.data();
    }
    compressed.resize(bound(bytes));
    chunkBytes = libdeflate_zlib_compress(compressor, raw, bytes, compressed.data(), compressed.size());
    return chunkBytes > 0;
}

} // namespace tavorin
