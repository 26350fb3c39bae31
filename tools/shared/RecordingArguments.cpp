#include "RecordingArguments.h"

#include "base/Console.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include <sys/stat.h>

std::optional<float> finiteNumber(const char* text)
{
    char* end = nullptr;
    const float value = std::strtof(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long> positiveCount(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < 1)
        return std::nullopt;
    return value;
}

std::string serialOfName(const std::string& path)
{
    constexpr char kPrefix[] = "kinect_";
    constexpr char kSuffix[] = ".h5";
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t prefix = sizeof kPrefix - 1;
    const std::size_t suffix = sizeof kSuffix - 1;
    if (name.size() <= prefix + suffix || name.compare(0, prefix, kPrefix) != 0
        || name.compare(name.size() - suffix, suffix, kSuffix) != 0)
        return {};
    return name.substr(prefix, name.size() - prefix - suffix);
}

std::string duplicateRecordings(const std::vector<std::string>& paths)
{
    for (std::size_t i = 0; i < paths.size(); ++i) {
        for (std::size_t j = i + 1; j < paths.size(); ++j) {
            struct stat a {}, b {};
            if (::stat(paths[i].c_str(), &a) == 0 && ::stat(paths[j].c_str(), &b) == 0 && a.st_dev == b.st_dev
                && a.st_ino == b.st_ino)
                return paths[i] + " and " + paths[j] + " are the same file";
            const std::string serial = serialOfName(paths[i]);
            if (!serial.empty() && serial == serialOfName(paths[j]))
                return paths[i] + " and " + paths[j] + " are recordings of the same camera (serial " + serial + ")";
        }
    }
    return {};
}

bool eachCameraOnce(const char* tool, const std::vector<std::string>& paths, const char* done)
{
    const std::string duplicate = duplicateRecordings(paths);
    if (!duplicate.empty())
        tavorin::console::err(tool, ": ", duplicate, "; each camera may be given once. Nothing ", done, ".");
    return duplicate.empty();
}
