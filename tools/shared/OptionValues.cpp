#include "OptionValues.h"

#include "base/Console.h"

#include <cerrno>
#include <cstdlib>

namespace tavorin::options {

namespace {

constexpr double kMaxSeconds = 1e7;

} // namespace

bool parseSeconds(const char* text, double& seconds)
{
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    return *text && !*end && seconds > 0.0 && seconds < kMaxSeconds;
}

bool parseCount(const char* text, std::uint64_t& count)
{
    char* end = nullptr;
    errno = 0;
    count = std::strtoull(text, &end, 10);
    return *text && !*end && text[0] != '-' && errno != ERANGE && count > 0;
}

bool refuse(const char* tool, const std::string& what, const char* value)
{
    console::err(tool, ": ", what, ", not \"", value, "\".");
    return false;
}

} // namespace tavorin::options
