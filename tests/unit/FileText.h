#pragma once

#include <fstream>
#include <iterator>
#include <string>

// The whole file as bytes; empty when it cannot be read.
inline std::string readFileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
