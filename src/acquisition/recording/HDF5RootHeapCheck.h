#pragma once

#include <string>

namespace tavorin {

// Reads the name heap of the root group straight from the file, before the HDF5 library opens
// it. The library of Debian 12 (1.10.8) follows the heap's free list without end when a free
// block names itself or an earlier one, allocates the heap's claimed size before reading it, and
// crashes on a heap address outside the file. The heap checked is the one the root group's
// symbol table message names (the library's choice). Empty when that heap lies in the file and
// its free list ends, or when the file is of a layout this check does not read (superblock
// version 2 or later, object header version 2, a root group without a symbol table), which the
// library then reads on its own; else the reason.
std::string rootHeapFault(const std::string& path);

} // namespace tavorin
