#include "acquisition/HDF5RootHeapCheck.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

constexpr char kSignature[] = "\x89HDF\r\n\x1a\n";
constexpr std::size_t kSignatureBytes = 8;
constexpr std::uint64_t kFirstUserBlockBytes = 512; // the superblock sits at 0, 512, 1024, ...
constexpr std::uint64_t kFreeListEnd = 1;          // the library's mark for the end of the list
constexpr std::uint32_t kCachedSymbolTable = 1;
constexpr std::uint64_t kMaxHeapBytes = std::uint64_t(1) << 24; // names of a root group, generously

// The file's little-endian unsigned numbers of 1 to 8 bytes.
class FileBytes {
public:
    explicit FileBytes(const std::string& path) : in(path, std::ios::binary | std::ios::ate)
    {
        const std::streamoff end = in.tellg();
        fileSize = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }

    std::uint64_t size() const { return fileSize; }

    bool read(std::uint64_t at, std::size_t width, std::uint64_t& value)
    {
        unsigned char bytes[8] = {};
        if (width < 1 || width > sizeof bytes || !readBytes(at, bytes, width))
            return false;
        value = 0;
        for (std::size_t i = width; i-- > 0;)
            value = (value << 8) | bytes[i];
        return true;
    }

    bool readBytes(std::uint64_t at, unsigned char* out, std::size_t count)
    {
        in.clear();
        in.seekg(static_cast<std::streamoff>(at));
        in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
        return static_cast<std::size_t>(in.gcount()) == count;
    }

private:
    std::ifstream in;
    std::uint64_t fileSize = 0;
};

// Little-endian unsigned of `width` bytes at `at` of the buffer; false past its end.
bool readNumber(const std::vector<unsigned char>& bytes, std::uint64_t at, std::size_t width, std::uint64_t& value)
{
    if (at > bytes.size() || width > bytes.size() - at)
        return false;
    value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = (value << 8) | bytes[at + i];
    return true;
}

bool findSuperblock(FileBytes& file, std::uint64_t& at)
{
    unsigned char signature[kSignatureBytes];
    for (at = 0; file.readBytes(at, signature, kSignatureBytes); at = at == 0 ? kFirstUserBlockBytes : 2 * at)
        if (std::memcmp(signature, kSignature, kSignatureBytes) == 0)
            return true;
    return false;
}

} // namespace

std::string rootHeapFault(const std::string& path)
{
    FileBytes file(path);
    std::uint64_t superblock = 0;
    std::uint64_t version = 0, offsetBytes = 0, lengthBytes = 0;
    if (!findSuperblock(file, superblock) || !file.read(superblock + 8, 1, version) || version > 1
        || !file.read(superblock + 13, 1, offsetBytes) || !file.read(superblock + 14, 1, lengthBytes))
        return {};
    // Version 0 and 1 superblocks: 24 or 28 bytes of versions, sizes and node widths, then the
    // base, free-space, end-of-file and driver addresses, then the root group's symbol table
    // entry (name offset, header address, cache type, reserved, B-tree address, heap address).
    const std::uint64_t addresses = superblock + (version == 0 ? 24 : 28);
    const std::uint64_t entry = addresses + 4 * offsetBytes;
    std::uint64_t baseAddress = 0, cacheType = 0, heapAddress = 0;
    if (!file.read(addresses, offsetBytes, baseAddress) || !file.read(entry + 2 * offsetBytes, 4, cacheType)
        || cacheType != kCachedSymbolTable || !file.read(entry + 3 * offsetBytes + 8, offsetBytes, heapAddress))
        return {};
    // The local heap: "HEAP", version and reserved bytes, data size, free list head, data address.
    const std::uint64_t heap = baseAddress + heapAddress;
    unsigned char heapSignature[4];
    std::uint64_t dataBytes = 0, freeBlock = 0, dataAddress = 0;
    if (!file.readBytes(heap, heapSignature, 4) || std::memcmp(heapSignature, "HEAP", 4) != 0
        || !file.read(heap + 8, lengthBytes, dataBytes) || !file.read(heap + 8 + lengthBytes, lengthBytes, freeBlock)
        || !file.read(heap + 8 + 2 * lengthBytes, offsetBytes, dataAddress))
        return {};
    // The library allocates the whole data segment before it reads it.
    if (dataBytes > kMaxHeapBytes || baseAddress + dataAddress > file.size()
        || dataBytes > file.size() - (baseAddress + dataAddress))
        return "its root group's name heap of " + std::to_string(dataBytes) + " bytes does not fit in the file";
    std::vector<unsigned char> data(dataBytes);
    if (!file.readBytes(baseAddress + dataAddress, data.data(), data.size()))
        return {};
    // Every free block starts with its successor's offset and its own size, so a list that ends
    // has at most this many blocks.
    const std::uint64_t blockHeader = 2 * lengthBytes;
    const std::uint64_t maxBlocks = dataBytes / blockHeader + 1;
    const std::uint64_t undefined = lengthBytes >= 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * lengthBytes)) - 1;
    for (std::uint64_t blocks = 0; freeBlock != kFreeListEnd && freeBlock != undefined; ++blocks) {
        if (blocks >= maxBlocks || freeBlock > dataBytes || blockHeader > dataBytes - freeBlock
            || !readNumber(data, freeBlock, lengthBytes, freeBlock))
            return "the free list of its root group's name heap loops or leaves the heap";
    }
    return {};
}
