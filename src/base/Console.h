#pragma once

#include <cstddef>
#include <map>
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

// Decides how often a text that can come every frame is written: the first time at once, then,
// while it keeps coming, once per window as a count: its first line followed by " (repeated N
// times in S s)". A text that stays away for a whole window is written at once again, after the
// count of its last burst if that was not written yet. Each text counts on its own; the texts
// themselves are never changed. Times in seconds on any steady
// clock. Not thread-safe: the console's own instance is used under its lock.
class RepeatLimiter {
public:
    static constexpr double kWindowSeconds = 10.0;

    // What to write now for `text` arriving at `seconds`: the text, a count line, or nothing.
    std::string admit(const std::string& text, double seconds);

private:
    struct Seen {
        double windowStart = 0.0;
        double last = 0.0;       // the text's latest arrival
        std::size_t repeats = 0; // arrivals since the window started, not written yet
    };
    static std::string countLine(const std::string& text, const Seen& entry, double until);
    static constexpr std::size_t kMaxTexts = 256; // beyond this the oldest are forgotten
    std::map<std::string, Seen> seen;
};

// Lines that could otherwise repeat every frame, on standard output or standard error, through
// the console's RepeatLimiter.
void writeRepeating(Stream stream, const std::string& lines);

template <typename... Parts>
void outRepeating(const Parts&... parts)
{
    writeRepeating(Stream::Out, line(parts...));
}

template <typename... Parts>
void errRepeating(const Parts&... parts)
{
    writeRepeating(Stream::Err, line(parts...));
}

} // namespace tavorin::console
