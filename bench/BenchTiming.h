#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

// The benchmarks' timing: each figure is the median of repeated passes, set beside a baseline
// measured in the same run, so that a ratio of medians comes from one run on one load.
namespace bench {

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Time on the steady clock since `start`, in the unit of Period (std::milli, std::micro).
template <typename Period>
double elapsedSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, Period>(std::chrono::steady_clock::now() - start).count();
}

} // namespace bench
