#pragma once

// The exit codes that the tools share (each tool's help lists them): 1 when the work cannot be
// done, 2 for wrong arguments. A tool's own further codes start at 3.
namespace tool_exit {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

} // namespace tool_exit
