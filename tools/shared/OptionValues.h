#pragma once

#include <cstdint>
#include <string>

// The values of the tools' command-line options, read in full: a number with anything after it,
// one out of range or a minus sign before a count is refused, never wrapped or cut.
namespace tavorin::options {

// A number of seconds above 0 and below 1e7.
bool parseSeconds(const char* text, double& seconds);
// A whole number of 1 or more that fits in 64 bits: strtoull would wrap a minus sign and saturate
// an overflow without a word.
bool parseCount(const char* text, std::uint64_t& count);
// Writes "<tool>: <what>, not "<value>"." to standard error; false, for a parser to return.
bool refuse(const char* tool, const std::string& what, const char* value);

} // namespace tavorin::options
