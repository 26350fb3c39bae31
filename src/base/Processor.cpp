#include "base/Processor.h"

#include <chrono>

namespace tavorin {

std::int64_t monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void runTimed(Processor& processor, SceneState& state)
{
    processor.startStampNs = monotonicNs();
    processor.process(state);
    processor.endStampNs = monotonicNs();
}

} // namespace tavorin
