#include "acquisition/recording/HDF5RootHeapCheck.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace tavorin {

namespace {

constexpr char kSignature[] = "\x89HDF\r\n\x1a\n";
constexpr std::size_t kSignatureBytes = 8;
constexpr std::uint64_t kFirstUserBlockBytes = 512; // the superblock sits at 0, 512, 1024, ...
constexpr std::uint64_t kFreeListEnd = 1;          // the library's mark for the end of the list
constexpr std::uint64_t kMaxHeapBytes = std::uint64_t(1) << 24; // names of a root group, generously
constexpr std::uint64_t kMaxHeaderBlocks = 16;
constexpr std::uint64_t kMaxHeaderBlockBytes = std::uint64_t(1) << 20; // a root group's header is far smaller
constexpr std::uint64_t kMessageHeaderBytes = 8;   // type (2), size (2), flags (1), reserved (3)
constexpr std::uint64_t kSymbolTableMessage = 0x11;
constexpr std::uint64_t kContinuationMessage = 0x10;

// The file's bytes and little-endian unsigned numbers of 1 to 8 bytes; false past its end.
class FileBytes {
public:
    explicit FileBytes(const std::string& path) : in(path, std::ios::binary | std::ios::ate)
    {
        const std::streamoff end = in.tellg();
        fileSize = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    }

    bool contains(std::uint64_t at, std::uint64_t count) const { return at <= fileSize && count <= fileSize - at; }

    bool readBytes(std::uint64_t at, unsigned char* out, std::size_t count)
    {
        if (!contains(at, count))
            return false;
        in.clear();
        in.seekg(static_cast<std::streamoff>(at));
        in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
        return static_cast<std::size_t>(in.gcount()) == count;
    }

    bool read(std::uint64_t at, std::uint64_t width, std::uint64_t& value)
    {
        unsigned char bytes[8] = {};
        if (width < 1 || width > sizeof bytes || !readBytes(at, bytes, static_cast<std::size_t>(width)))
            return false;
        value = 0;
        for (std::size_t i = static_cast<std::size_t>(width); i-- > 0;)
            value = (value << 8) | bytes[i];
        return true;
    }

private:
    std::ifstream in;
    std::uint64_t fileSize = 0;
};

// Sizes of file addresses and lengths, and the base address that addresses count from.
struct Layout {
    std::uint64_t base = 0;
    std::uint64_t offsetBytes = 0;
    std::uint64_t lengthBytes = 0;
};

// A version 0 or 1 superblock: 24 or 28 bytes of versions, sizes and node widths, then the
// base, free-space, end-of-file and driver addresses, then the root group's symbol table entry
// (name offset, object header address, ...).
bool readRootEntry(FileBytes& file, Layout& layout, std::uint64_t& rootHeader)
{
    unsigned char signature[kSignatureBytes];
    std::uint64_t superblock = 0;
    for (;;) {
        if (!file.readBytes(superblock, signature, kSignatureBytes))
            return false;
        if (std::memcmp(signature, kSignature, kSignatureBytes) == 0)
            break;
        superblock = superblock == 0 ? kFirstUserBlockBytes : 2 * superblock;
    }
    std::uint64_t version = 0;
    if (!file.read(superblock + 8, 1, version) || version > 1
        || !file.read(superblock + 13, 1, layout.offsetBytes) || !file.read(superblock + 14, 1, layout.lengthBytes))
        return false;
    const std::uint64_t addresses = superblock + (version == 0 ? 24 : 28);
    const std::uint64_t entry = addresses + 4 * layout.offsetBytes;
    return file.read(addresses, layout.offsetBytes, layout.base)
        && file.read(entry + layout.offsetBytes, layout.offsetBytes, rootHeader);
}

// The heap address of the symbol table message in a version 1 object header (16 bytes of
// version, message count, reference count and size, then the messages), following its
// continuation blocks.
bool findSymbolTableHeap(FileBytes& file, const Layout& layout, std::uint64_t header, std::uint64_t& heap)
{
    std::uint64_t version = 0, blockBytes = 0;
    if (!file.read(layout.base + header, 1, version) || version != 1
        || !file.read(layout.base + header + 8, 4, blockBytes))
        return false;
    std::uint64_t block = layout.base + header + 16;
    for (std::uint64_t blocks = 0; blocks < kMaxHeaderBlocks && blockBytes <= kMaxHeaderBlockBytes; ++blocks) {
        std::uint64_t next = 0, nextBytes = 0;
        for (std::uint64_t at = block; at + kMessageHeaderBytes <= block + blockBytes;) {
            std::uint64_t type = 0, size = 0;
            if (!file.read(at, 2, type) || !file.read(at + 2, 2, size))
                return false;
            const std::uint64_t data = at + kMessageHeaderBytes;
            if (type == kSymbolTableMessage)
                return file.read(data + layout.offsetBytes, layout.offsetBytes, heap);
            if (type == kContinuationMessage
                && !(file.read(data, layout.offsetBytes, next) && file.read(data + layout.offsetBytes, layout.lengthBytes, nextBytes)))
                return false;
            at = data + size;
        }
        if (nextBytes == 0)
            return false;
        block = layout.base + next;
        blockBytes = nextBytes;
    }
    return false;
}

// The local heap: "HEAP", version and 3 reserved bytes, data segment size, free list head, data
// segment address. Every free block starts with its successor's offset and its own size.
std::string localHeapFault(FileBytes& file, const Layout& layout, std::uint64_t heapAddress)
{
    const std::uint64_t heap = layout.base + heapAddress;
    unsigned char signature[4];
    std::uint64_t dataBytes = 0, freeBlock = 0, dataAddress = 0;
    if (!file.readBytes(heap, signature, sizeof signature) || std::memcmp(signature, "HEAP", 4) != 0
        || !file.read(heap + 8, layout.lengthBytes, dataBytes)
        || !file.read(heap + 8 + layout.lengthBytes, layout.lengthBytes, freeBlock)
        || !file.read(heap + 8 + 2 * layout.lengthBytes, layout.offsetBytes, dataAddress))
        return "its root group's name heap is not where its symbol table says";
    std::vector<unsigned char> data;
    if (dataBytes <= kMaxHeapBytes && file.contains(layout.base + dataAddress, dataBytes))
        data.resize(static_cast<std::size_t>(dataBytes));
    if (data.size() != dataBytes || !file.readBytes(layout.base + dataAddress, data.data(), data.size()))
        return "its root group's name heap of " + std::to_string(dataBytes) + " bytes does not fit in the file";
    const std::uint64_t blockHeader = 2 * layout.lengthBytes;
    const std::uint64_t maxBlocks = dataBytes / blockHeader + 1;
    const std::uint64_t undefined =
        layout.lengthBytes >= 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * layout.lengthBytes)) - 1;
    for (std::uint64_t blocks = 0; freeBlock != kFreeListEnd && freeBlock != undefined; ++blocks) {
        if (blocks >= maxBlocks || freeBlock > dataBytes || blockHeader > dataBytes - freeBlock)
            return "the free list of its root group's name heap loops or leaves the heap";
        std::uint64_t next = 0;
        for (std::uint64_t i = layout.lengthBytes; i-- > 0;)
            next = (next << 8) | data[static_cast<std::size_t>(freeBlock + i)];
        freeBlock = next;
    }
    return {};
}

} // namespace

std::string rootHeapFault(const std::string& path)
{
    FileBytes file(path);
    Layout layout;
    std::uint64_t rootHeader = 0, heap = 0;
    if (!readRootEntry(file, layout, rootHeader) || layout.offsetBytes < 1 || layout.offsetBytes > 8
        || layout.lengthBytes < 1 || layout.lengthBytes > 8 || !findSymbolTableHeap(file, layout, rootHeader, heap))
        return {};
    return localHeapFault(file, layout, heap);
}

} // namespace tavorin
