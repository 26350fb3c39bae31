#include "acquisition/recording/ChunkIntegrity.h"

#include <hdf5.h>
#include <libdeflate.h>

#include <type_traits>

namespace tavorin {

static_assert(std::is_same<hsize_t, ChunkIntegrity::Index>::value && std::is_same<hid_t, std::int64_t>::value,
              "the header names the library's size and identifier types");

namespace {

constexpr std::size_t kMaxChunkBytes = std::size_t(1) << 28; // above the largest frame a reader accepts
constexpr ChunkIntegrity::Index kMaxChunksPerRead = ChunkIntegrity::Index(1) << 16;
constexpr std::size_t kFletcherBytes = 4;
constexpr std::size_t kMaxFilterValues = 8;
// Header, checksum and block overhead of a zlib stream that stores incompressible data.
constexpr std::size_t kDeflateOverheadBytes = 1024;

} // namespace

ChunkIntegrity::~ChunkIntegrity()
{
    if (decompressor)
        libdeflate_free_decompressor(decompressor);
}

std::string ChunkIntegrity::attach(std::int64_t set)
{
    dataSet = set;
    const hid_t space = H5Dget_space(set);
    const hid_t type = H5Dget_type(set);
    const hid_t properties = H5Dget_create_plist(set);
    std::string fault;
    if (space < 0 || type < 0 || properties < 0) {
        fault = "has a layout the HDF5 library cannot read";
    } else {
        rank = H5Sget_simple_extent_ndims(space);
        const hssize_t values = H5Sget_simple_extent_npoints(space);
        const std::size_t valueBytes = H5Tget_size(type);
        const H5D_layout_t layout = H5Pget_layout(properties);
        if (layout == H5D_CHUNKED)
            fault = attachChunked(properties, valueBytes);
        else if (layout == H5D_COMPACT && H5Dget_storage_size(set) != static_cast<hsize_t>(values) * valueBytes)
            fault = "has compact storage of " + std::to_string(H5Dget_storage_size(set)) + " bytes for "
                + std::to_string(values) + " values of " + std::to_string(valueBytes) + " bytes";
    }
    if (space >= 0)
        H5Sclose(space);
    if (type >= 0)
        H5Tclose(type);
    if (properties >= 0)
        H5Pclose(properties);
    return fault;
}

std::string ChunkIntegrity::attachChunked(std::int64_t properties, std::size_t valueBytes)
{
    chunk.assign(rank > 0 ? static_cast<std::size_t>(rank) : 0, 0);
    if (rank < 1 || H5Pget_chunk(properties, rank, chunk.data()) != rank)
        return "has chunks the HDF5 library cannot describe";
    chunkBytes = valueBytes;
    for (const Index side : chunk) {
        if (side == 0 || chunkBytes > kMaxChunkBytes / side)
            return "is stored in chunks of more than " + std::to_string(kMaxChunkBytes >> 20) + " MiB";
        chunkBytes *= side;
    }
    const int count = H5Pget_nfilters(properties);
    for (int i = 0; i < count; ++i) {
        unsigned int flags = 0;
        std::size_t values = kMaxFilterValues;
        unsigned int valueData[kMaxFilterValues] = {};
        unsigned int config = 0;
        filters.push_back(H5Pget_filter2(properties, static_cast<unsigned>(i), &flags, &values, valueData, 0,
                                         nullptr, &config));
    }
    decompressor = libdeflate_alloc_decompressor();
    if (!decompressor)
        return "cannot be checked without memory for a decompressor";
    chunked = true;
    return {};
}

bool ChunkIntegrity::intact(const Index* start, const Index* count)
{
    if (!chunked)
        return true;
    const std::size_t dims = chunk.size();
    std::vector<Index> first(dims), last(dims), at(dims);
    Index chunks = 1;
    for (std::size_t d = 0; d < dims; ++d) {
        if (count[d] == 0)
            return true;
        first[d] = start[d] / chunk[d];
        last[d] = (start[d] + count[d] - 1) / chunk[d];
        const Index along = last[d] - first[d] + 1;
        if (along > kMaxChunksPerRead / chunks)
            return false;
        chunks *= along;
    }
    at = first;
    std::vector<Index> offset(dims);
    for (Index k = 0; k < chunks; ++k) {
        for (std::size_t d = 0; d < dims; ++d)
            offset[d] = at[d] * chunk[d];
        if (!chunkIntact(offset.data()))
            return false;
        for (std::size_t d = dims; d-- > 0;) {
            if (++at[d] <= last[d])
                break;
            at[d] = first[d];
        }
    }
    return true;
}

// The chunk's size as its index records it: the library reads that many bytes, but for a data
// set without filters it reports (H5Dget_chunk_storage_size) and reads back (H5Dread_chunk) the
// nominal chunk size, so without filters only the record is compared.
bool ChunkIntegrity::chunkIntact(const Index* offset)
{
    unsigned int skippedFilters = 0;
    haddr_t address = HADDR_UNDEF;
    hsize_t storedBytes = 0;
    if (H5Dget_chunk_info_by_coord(dataSet, offset, &skippedFilters, &address, &storedBytes) < 0)
        return false;
    if (address == HADDR_UNDEF)
        return true; // never written: the library delivers the fill value
    if (filters.empty())
        return storedBytes == chunkBytes;
    const std::size_t largest = chunkBytes + chunkBytes / 8 + kDeflateOverheadBytes + kFletcherBytes * filters.size();
    if (storedBytes == 0 || storedBytes > largest)
        return false;
    stored.resize(largest); // room for whichever size the direct read uses
    std::uint32_t readMask = 0;
    if (H5Dread_chunk(dataSet, H5P_DEFAULT, offset, &readMask, stored.data()) < 0)
        return false;
    stored.resize(static_cast<std::size_t>(storedBytes));
    return decodedSize(skippedFilters) == chunkBytes;
}

// The size the library's pipeline turns the stored chunk into, undoing the filters in reverse
// order; 0 when a stream does not inflate.
std::size_t ChunkIntegrity::decodedSize(std::uint32_t skippedFilters)
{
    const std::uint8_t* data = stored.data();
    std::size_t bytes = stored.size();
    for (std::size_t i = filters.size(); i-- > 0;) {
        if (skippedFilters & (1u << i))
            continue;
        switch (filters[i]) {
        case H5Z_FILTER_SHUFFLE:
            break;
        case H5Z_FILTER_FLETCHER32:
            if (bytes < kFletcherBytes)
                return 0;
            bytes -= kFletcherBytes;
            break;
        case H5Z_FILTER_DEFLATE: {
            spare.resize(chunkBytes + kFletcherBytes * filters.size());
            std::size_t out = 0;
            if (libdeflate_zlib_decompress(decompressor, data, bytes, spare.data(), spare.size(), &out)
                != LIBDEFLATE_SUCCESS)
                return 0;
            inflated.swap(spare);
            data = inflated.data();
            bytes = out;
            break;
        }
        default:
            return 0;
        }
    }
    return bytes;
}

} // namespace tavorin
