#include "StepWatchdog.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

constexpr std::size_t kTextBytes = 480;

// Read by the signal handler: set before the alarm that can raise it.
const char* volatile armedMessage = "";
volatile std::size_t armedLength = 0;
volatile int armedExitCode = 1;

// Each slot holds two texts; the writer fills the one not shown, then shows it. The handler reads
// the shown one (a text that changes under it at worst comes out mixed).
struct Slot {
    char text[2][kTextBytes];
    std::size_t length[2] = {0, 0};
    std::atomic<int> shown{0};
};
Slot slots[StepWatchdog::kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the slots");

void writeAll(const char* text, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(STDERR_FILENO, text, length);
        if (written <= 0)
            return;
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

extern "C" void expire(int)
{
    writeAll(armedMessage, armedLength);
    for (Slot& slot : slots) {
        const int shown = slot.shown.load();
        if (slot.length[shown] == 0)
            continue;
        writeAll("  still ", 8);
        writeAll(slot.text[shown], slot.length[shown]);
        writeAll("\n", 1);
    }
    ::_exit(armedExitCode);
}

} // namespace

void StepWatchdog::arm(unsigned seconds, const char* message, int exitCode)
{
    ::alarm(0);
    armedMessage = message;
    armedLength = std::strlen(message);
    armedExitCode = exitCode;
    struct sigaction action {};
    action.sa_handler = expire;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    ::alarm(seconds);
}

void StepWatchdog::disarm()
{
    ::alarm(0);
}

void StepWatchdog::doing(std::size_t slot, const std::string& what)
{
    if (slot >= kSlots)
        return;
    Slot& s = slots[slot];
    const int next = 1 - s.shown.load();
    const std::size_t length = what.size() < kTextBytes ? what.size() : kTextBytes;
    std::memcpy(s.text[next], what.data(), length);
    s.length[next] = length;
    s.shown.store(next);
}
