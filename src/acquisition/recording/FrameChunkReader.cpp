#include "acquisition/recording/FrameChunkReader.h"

#include <hdf5.h>
#include <libdeflate.h>

#include <type_traits>

namespace tavorin {

static_assert(std::is_same<hid_t, std::int64_t>::value && sizeof(hsize_t) == sizeof(std::uint64_t),
              "the header names the library's identifier and size types by their widths");

namespace {

constexpr int kMaxRank = 8;
constexpr std::size_t kMaxFilterValues = 8;
// Header, checksum and block overhead of a zlib stream that stores incompressible data.
constexpr std::size_t kDeflateOverheadBytes = 1024;

// One frame of frameElements values per chunk: the chunk spans every dimension but the last,
// which is 1.
bool chunkIsOneFrame(hid_t set, hid_t properties, int rank, std::size_t frameElements)
{
    hsize_t chunk[kMaxRank] = {};
    hsize_t extent[kMaxRank] = {};
    const hid_t space = H5Dget_space(set);
    if (space < 0)
        return false;
    const bool read = H5Sget_simple_extent_dims(space, extent, nullptr) == rank;
    H5Sclose(space);
    if (!read || H5Pget_chunk(properties, rank, chunk) != rank || chunk[rank - 1] != 1)
        return false;
    hsize_t elements = 1;
    for (int d = 0; d < rank - 1; ++d) {
        if (chunk[d] != extent[d])
            return false;
        elements *= chunk[d];
    }
    return elements == frameElements;
}

bool storesLittleEndianUnsigned(hid_t set, std::size_t elementBytes)
{
    const hid_t type = H5Dget_type(set);
    if (type < 0)
        return false;
    const hid_t expected = elementBytes == 1 ? H5T_STD_U8LE : H5T_STD_U16LE;
    const bool same = H5Tequal(type, expected) > 0;
    H5Tclose(type);
    return same;
}

// Deflate, alone or after the shuffle; `shuffled` tells which.
bool filtersAreDeflate(hid_t properties, bool& shuffled)
{
    const int count = H5Pget_nfilters(properties);
    if (count < 1 || count > 2)
        return false;
    H5Z_filter_t filters[2] = {};
    for (int i = 0; i < count; ++i) {
        unsigned int flags = 0;
        std::size_t values = kMaxFilterValues;
        unsigned int valueData[kMaxFilterValues] = {};
        unsigned int config = 0;
        filters[i] = H5Pget_filter2(properties, static_cast<unsigned>(i), &flags, &values, valueData, 0, nullptr,
                                    &config);
    }
    shuffled = count == 2;
    return filters[count - 1] == H5Z_FILTER_DEFLATE && (!shuffled || filters[0] == H5Z_FILTER_SHUFFLE);
}

} // namespace

FrameChunkReader::~FrameChunkReader()
{
    if (decompressor)
        libdeflate_free_decompressor(decompressor);
}

bool FrameChunkReader::attach(std::int64_t set, std::size_t elementBytes, std::size_t frameElements)
{
    const hid_t properties = H5Dget_create_plist(set);
    if (properties < 0)
        return false;
    const hid_t space = H5Dget_space(set);
    rank = space < 0 ? -1 : H5Sget_simple_extent_ndims(space);
    if (space >= 0)
        H5Sclose(space);
    const bool usable = (elementBytes == 1 || elementBytes == 2) && rank >= 1 && rank <= kMaxRank
        && H5Pget_layout(properties) == H5D_CHUNKED && chunkIsOneFrame(set, properties, rank, frameElements)
        && filtersAreDeflate(properties, shuffled) && storesLittleEndianUnsigned(set, elementBytes);
    H5Pclose(properties);
    if (!usable)
        return false;
    decompressor = libdeflate_alloc_decompressor();
    if (!decompressor)
        return false;
    dataSet = set;
    elementSize = elementBytes;
    frameBytes = frameElements * elementBytes;
    shuffled = shuffled && elementBytes > 1;
    if (elementBytes == 2)
        inflatedValues.resize(frameBytes);
    return true;
}

// The raw chunk of the frame, inflated into out (frameBytes). False when the chunk is missing,
// larger than deflate makes any frame, had a filter skipped when written, or does not inflate to
// exactly one frame.
bool FrameChunkReader::inflateChunk(std::uint64_t frame, std::uint8_t* out)
{
    if (!decompressor)
        return false;
    hsize_t offset[kMaxRank] = {};
    offset[rank - 1] = frame;
    hsize_t storedBytes = 0;
    const hsize_t largestDeflated = frameBytes + frameBytes / 8 + kDeflateOverheadBytes;
    if (H5Dget_chunk_storage_size(dataSet, offset, &storedBytes) < 0 || storedBytes == 0
        || storedBytes > largestDeflated)
        return false;
    compressed.resize(static_cast<std::size_t>(storedBytes));
    std::uint32_t skippedFilters = 0;
    if (H5Dread_chunk(dataSet, H5P_DEFAULT, offset, &skippedFilters, compressed.data()) < 0 || skippedFilters != 0)
        return false;
    std::size_t inflated = 0;
    return libdeflate_zlib_decompress(decompressor, compressed.data(), compressed.size(), out, frameBytes, &inflated)
        == LIBDEFLATE_SUCCESS
        && inflated == frameBytes;
}

bool FrameChunkReader::readBytes(std::uint64_t frame, std::uint8_t* out)
{
    return elementSize == 1 && inflateChunk(frame, out);
}

namespace {

// Little-endian values; the shuffle stores all low bytes of the frame, then all high bytes.
template <typename Out>
void unpackUint16(const std::uint8_t* bytes, std::size_t values, bool shuffled, Out* out)
{
    if (shuffled) {
        const std::uint8_t* high = bytes + values;
        for (std::size_t i = 0; i < values; ++i)
            out[i] = static_cast<Out>(static_cast<std::uint16_t>(bytes[i] | (high[i] << 8)));
    } else {
        for (std::size_t i = 0; i < values; ++i)
            out[i] = static_cast<Out>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    }
}

} // namespace

bool FrameChunkReader::readAsFloats(std::uint64_t frame, float* out)
{
    if (elementSize != 2 || !inflateChunk(frame, inflatedValues.data()))
        return false;
    unpackUint16(inflatedValues.data(), frameBytes / 2, shuffled, out);
    return true;
}

bool FrameChunkReader::readAsUint16(std::uint64_t frame, std::uint16_t* out)
{
    if (elementSize != 2 || !inflateChunk(frame, inflatedValues.data()))
        return false;
    unpackUint16(inflatedValues.data(), frameBytes / 2, shuffled, out);
    return true;
}

} // namespace tavorin
