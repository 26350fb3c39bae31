#pragma once

#include "HelpOption.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

// What the tools that take a set of recordings (tavorin-calibrate, tavorin-check) accept alike.

// Their exit codes in common (each tool's help lists them with its own codes 3 and 5), and how
// long opening the recordings or one step through them may take before the recording counts as
// damaged.
namespace recording_tool {
constexpr int kExitUsage = 1;
constexpr int kExitUnreadable = 2;
constexpr int kExitStoreFailed = 4;
constexpr unsigned kStepLimitSeconds = 30;
constexpr std::size_t kMaxRecordings = 32;
} // namespace recording_tool

// A finite number, or nothing.
std::optional<float> finiteNumber(const char* text);

// A whole number of at least 1, or nothing.
std::optional<long> positiveCount(const char* text);

// The serial of a recording named kinect_<serial>.h5, or empty for another name.
std::string serialOfName(const std::string& path);

// Why the recordings cannot be taken together, or empty: one file given twice (by any path), or
// two recordings of the same camera, which would also share a configuration file.
std::string duplicateRecordings(const std::vector<std::string>& paths);

// True when each recording and each camera is given once; otherwise false after
// "<tool>: <why>; each camera may be given once. Nothing <done>." on standard error.
bool eachCameraOnce(const char* tool, const std::vector<std::string>& paths, const char* done);

// The options of a tool that takes a set of recordings, first thing in main(): `--help` prints the
// help and exits 0; options that `parse` refuses (after its line that says why) bring the usage on
// standard error, and a recording or camera given twice its line, each exiting with `usageExit`.
template <typename Options, typename Parse>
Options recordingOptionsOrExit(int argc, char** argv, Parse parse, const char* usage, const char* help,
                               int usageExit, const char* tool, const char* done)
{
    const Options options = optionsOrExit<Options>(
        argc, argv,
        [&parse](int count, char** values, Options& parsed) {
            std::optional<Options> given = parse(count, values);
            if (given)
                parsed = std::move(*given);
            return given.has_value();
        },
        usage, help, usageExit);
    if (!eachCameraOnce(tool, options.recordings, done))
        std::exit(usageExit);
    return options;
}
