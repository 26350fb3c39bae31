#pragma once

#include <cstddef>
#include <string>

namespace tavorin {

enum class FileRead {
    Read,     // `text` holds the whole file
    Missing,  // nothing at the path
    Refused,  // `fault` says why: not a regular file (a FIFO or device is never opened for reading
              // in a way that waits), larger than the limit, or a failure of the system
};

// Reads a small regular file whole. The file is opened without waiting for a writer and checked
// on the open descriptor, so that a FIFO or device put at the path cannot hang the caller.
FileRead readRegularFile(const std::string& path, std::size_t maxBytes, std::string& text, std::string& fault);

} // namespace tavorin
