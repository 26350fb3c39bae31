#pragma once

#include <sstream>
#include <string>
#include <string_view>

// The system's console lines. Standard output carries progress, matrix dumps and GL errors;
// standard error the failures of capture, recordings and shader files and the misuse of the
// registration. Any thread.
namespace tavorin::console {

enum class Stream { Out, Err };

// Writes whole lines (a missing last line end is added) and flushes, under one lock for both
// streams, so that lines written by several threads at once never interleave.
void writeLines(Stream stream, std::string_view lines);

// The parts in the stream's default format, then a line end.
template <typename... Parts>
std::string line(const Parts&... parts)
{
    std::ostringstream text;
    (text << ... << parts) << '\n';
    return text.str();
}

// One line of the given parts on standard output.
template <typename... Parts>
void out(const Parts&... parts)
{
    writeLines(Stream::Out, line(parts...));
}

// One line of the given parts on standard error.
template <typename... Parts>
void err(const Parts&... parts)
{
    writeLines(Stream::Err, line(parts...));
}

} // namespace tavorin::console
