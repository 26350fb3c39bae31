#pragma once

namespace tavorin {

// SIGINT and SIGTERM ask a tool to stop: the handler only notes the signal, and the tool's loops
// look at stopSignal() and end cleanly.
void installStopSignalHandlers();
// The signal that asked to stop, or 0.
int stopSignal();

} // namespace tavorin
