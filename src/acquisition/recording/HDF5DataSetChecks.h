#pragma once

#include <cstdint>
#include <string>

namespace tavorin {

// Checks of a recording's data set before anything is read from it. Each answers an empty string
// when the data set may be read, else the reason, worded to follow the data set's name ("stores
// 142-bit unsigned integers (...); ..."). `set` is an open HDF5 data set identifier (hid_t).

// What a data set is read as: numbers (floats of 32 or 64 bits) or unsigned bytes.
enum class RecordingMemoryType { Numbers, Bytes };

// Whether the library converts every value of the stored type exactly into `memory`.
std::string storedTypeFault(std::int64_t set, RecordingMemoryType memory);

// Whether the values lie in this file, uncompressed or compressed by a filter the reader allows.
std::string storageFault(std::int64_t set);

// A data set access property list (hid_t, the caller closes it; it serves as a link access list
// too) under which the library refuses to follow external links: opening an object through it
// never opens another file, whatever the path passes through.
std::int64_t linkAccessInsideFile();

// Whether the link `name` of the open file `file` leads to an object inside the file: empty for
// a hard link, a soft link to an object of the file, or no link at all (the caller reports what
// is missing); else the reason (an external or user-defined link, a soft link that leads nowhere
// inside the file), worded as for storedTypeFault. `access` is linkAccessInsideFile()'s list.
std::string linkFault(std::int64_t file, const char* name, std::int64_t access);

} // namespace tavorin
