#pragma once

#include <cstdint>
#include <string>

namespace tavorin {

// Checks of a recording's data set before anything is read from it. Each answers an empty string
// when the data set may be read, else the reason, worded to follow the data set's name ("stores
// 142-bit unsigned integers (...); ..."). `set` is an open HDF5 data set identifier (hid_t).

// The memory type a data set is read into.
enum class RecordingMemoryType { Float32, Float64, UInt8 };

// Whether the library converts every value of the stored type exactly into `memory`.
std::string storedTypeFault(std::int64_t set, RecordingMemoryType memory);

// Whether the values lie in this file, uncompressed or compressed by a filter the reader allows.
std::string storageFault(std::int64_t set);

} // namespace tavorin
