// Virtual devices on one sync cable.
#include "device_handles.h"

#include <algorithm>

namespace k4a_layer {

namespace {

// A member that does not come for its frame this long is not waited for any more.
constexpr std::chrono::milliseconds kLongestWaitForMembers{250};

} // namespace

FrameRig& FrameRig::instance()
{
    static FrameRig rig;
    return rig;
}

void FrameRig::join(const DeviceSession* member)
{
    std::lock_guard<std::mutex> lock(mutex);
    taken[member] = kNoRound;
}

void FrameRig::leave(const DeviceSession* member)
{
    std::lock_guard<std::mutex> lock(mutex);
    taken.erase(member);
    changed.notify_all();
}

bool FrameRig::allTookRound() const
{
    return std::all_of(taken.begin(), taken.end(), [this](const auto& entry) { return entry.second == round; });
}

std::uint64_t FrameRig::nextFrame(const DeviceSession* member, std::uint64_t dueSlot)
{
    std::unique_lock<std::mutex> lock(mutex);
    auto mine = taken.find(member);
    if (mine == taken.end())
        return dueSlot;
    if (started && mine->second != round) {
        mine->second = round; // this round's frame, late or not
        return round;
    }
    const std::uint64_t entered = round;
    changed.wait_for(lock, kLongestWaitForMembers,
                     [&] { return round != entered || allTookRound() || taken.count(member) == 0; });
    mine = taken.find(member);
    if (mine == taken.end())
        return dueSlot;
    if (round == entered) {
        round = started ? std::max(dueSlot, round + 1) : dueSlot;
        started = true;
    }
    mine->second = round;
    changed.notify_all();
    return round;
}

} // namespace k4a_layer
