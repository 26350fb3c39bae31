#pragma once

// Ends a tool that is stuck in one step: a damaged recording can send the HDF5 library into a
// loop that no check before it recognises. arm() starts (or restarts) the countdown; when it runs
// out, the message goes to standard error and the process exits with the code, without running
// destructors; the message is written by the signal handler itself (write(2), not the console,
// whose lock a handler may not take). Main thread only; the tools use SIGALRM for nothing else.
class StepWatchdog {
public:
    static void arm(unsigned seconds, const char* message, int exitCode);
    static void disarm();
};
