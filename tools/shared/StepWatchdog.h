#pragma once

#include <cstddef>
#include <string>

// Ends a tool that is stuck in one step: a damaged recording can send the HDF5 library into a
// loop that no check before it recognises. arm() starts (or restarts) the countdown; when it runs
// out, the message goes to standard error, followed by one line per thread that said what it was
// doing ("  still reading frame 12 of rec.h5"), and the process exits with the code, without
// running destructors. The handler writes with write(2), not through the console, whose lock a
// handler may not take. arm() and disarm(): main thread only; the tools use SIGALRM for nothing
// else.
class StepWatchdog {
public:
    static constexpr std::size_t kSlots = 8;

    static void arm(unsigned seconds, const char* message, int exitCode);
    static void disarm();
    // What the thread that owns `slot` (below kSlots) is doing now, or empty when it waits on
    // nothing that can hang; cut to 480 bytes. Any thread, one writer per slot.
    static void doing(std::size_t slot, const std::string& what);
};
