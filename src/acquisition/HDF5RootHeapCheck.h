#pragma once

#include <string>

// Reads the free list of the root group's name heap straight from the file, before the HDF5
// library opens it: the library of Debian 12 (1.10.8) follows that list without end when a free
// block names itself or an earlier one, allocating as it goes. Empty when the list ends, or
// when the file is of a layout this check does not read (superblock version 2 or later, a root
// group without a cached symbol table), which the library then reads on its own; else the reason.
std::string rootHeapFault(const std::string& path);
