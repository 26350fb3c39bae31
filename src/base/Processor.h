#pragma once

#include <cstdint>

namespace tavorin {

struct SceneState;

// One per-frame processing step. The two stamps are written by runTimed and read by nobody.
class Processor {
public:
    virtual void process(SceneState& state) = 0;

    std::int64_t startStampNs = 0;
    std::int64_t endStampNs = 0;

protected:
    ~Processor() = default; // destroyed through the shared pointer of its concrete type
};

// Nanoseconds of the monotonic clock: the time base of the stamps and of recording playback.
std::int64_t monotonicNs();

// Stamps the monotonic clock (nanoseconds) around one process() call.
void runTimed(Processor& processor, SceneState& state);

} // namespace tavorin
