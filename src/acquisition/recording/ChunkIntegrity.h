#pragma once

#include "base/NonCopyable.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct libdeflate_decompressor;

namespace tavorin {

// Guards the HDF5 library's own reads of a chunked data set. The library of Debian 12 (1.10.8)
// copies a whole chunk's worth of bytes out of a stored chunk that decodes to fewer bytes, past
// the end of its buffer. Before such a read, every stored chunk that the selection touches is
// decoded here far enough to know its size (deflate inflated with libdeflate, the shuffle keeps
// the size, fletcher32 drops its 4 checksum bytes); the read may go ahead only when each one
// comes to exactly one chunk. Unwritten chunks read as the fill value and pass. Contiguous and
// compact data sets need no check per read. Thread of the reading caller.
class ChunkIntegrity : NonCopyable {
public:
    using Index = unsigned long long; // the library's hsize_t

    ChunkIntegrity() = default;
    ~ChunkIntegrity();

    // Reads the layout of `set` (an open hid_t, borrowed). Empty when its reads can be guarded,
    // else the reason, worded to follow the data set's name: chunks of more than 256 MiB,
    // compact storage that does not hold exactly the data set's values.
    std::string attach(std::int64_t set);
    // True when every stored chunk that the box start .. start + count (one value per dimension)
    // touches decodes to exactly one chunk, and they are at most 65536.
    bool intact(const Index* start, const Index* count);

private:
    std::string attachChunked(std::int64_t properties, std::size_t valueBytes);
    bool chunkIntact(const Index* offset);
    std::size_t decodedSize(std::uint32_t skippedFilters);

    std::int64_t dataSet = -1;
    bool chunked = false;
    int rank = 0;
    std::vector<Index> chunk;
    std::size_t chunkBytes = 0;
    std::vector<int> filters; // in the order the writer applied them
    libdeflate_decompressor* decompressor = nullptr;
    std::vector<std::uint8_t> stored;
    std::vector<std::uint8_t> inflated;
    std::vector<std::uint8_t> spare; // a second inflate of the same chunk
};

} // namespace tavorin
