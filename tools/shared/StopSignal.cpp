#include "StopSignal.h"

#include <atomic>
#include <csignal>

namespace tavorin {

namespace {

std::atomic<int> receivedStop{0};

void onStopSignal(int signal)
{
    receivedStop.store(signal);
}

} // namespace

void installStopSignalHandlers()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int stopSignal()
{
    return receivedStop.load();
}

} // namespace tavorin
