#include "base/Console.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <mutex>

namespace tavorin::console {

namespace {

// A function's static: the first lines are written during static initialisation.
std::mutex& consoleMutex()
{
    static std::mutex mutex;
    return mutex;
}

void writeLocked(Stream stream, std::string_view lines)
{
    std::ostream& target = stream == Stream::Out ? std::cout : std::cerr;
    target.write(lines.data(), static_cast<std::streamsize>(lines.size()));
    if (lines.empty() || lines.back() != '\n')
        target.put('\n');
    target.flush();
}

} // namespace

void writeLines(Stream stream, std::string_view lines)
{
    std::lock_guard<std::mutex> lock(consoleMutex());
    writeLocked(stream, lines);
}

std::string RepeatLimiter::countLine(const std::string& text, const Seen& entry, double until)
{
    std::ostringstream count;
    count << text.substr(0, text.find('\n')) << " (repeated " << entry.repeats
          << (entry.repeats == 1 ? " time" : " times") << " in " << std::lround(until - entry.windowStart) << " s)\n";
    return count.str();
}

std::string RepeatLimiter::admit(const std::string& text, double seconds)
{
    const auto found = seen.find(text);
    if (found == seen.end()) {
        if (seen.size() >= kMaxTexts)
            seen.erase(std::min_element(seen.begin(), seen.end(),
                                        [](const auto& a, const auto& b) { return a.second.last < b.second.last; }));
        seen.emplace(text, Seen{seconds, seconds, 0});
        return text;
    }
    Seen& entry = found->second;
    if (seconds - entry.last >= kWindowSeconds) {
        const std::string earlier = entry.repeats > 0 ? countLine(text, entry, entry.last) : std::string();
        entry = Seen{seconds, seconds, 0};
        return earlier + text;
    }
    entry.last = seconds;
    ++entry.repeats;
    if (seconds - entry.windowStart < kWindowSeconds)
        return {};
    const std::string count = countLine(text, entry, seconds);
    entry = Seen{seconds, seconds, 0};
    return count;
}

void writeRepeating(Stream stream, const std::string& lines)
{
    static RepeatLimiter limiter;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    std::lock_guard<std::mutex> lock(consoleMutex());
    const std::string admitted = limiter.admit(lines, seconds);
    if (!admitted.empty())
        writeLocked(stream, admitted);
}

} // namespace tavorin::console
