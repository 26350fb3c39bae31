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

bool FrameRig::join(const DeviceSession* member, k4a_wired_sync_mode_t mode, const RigTrigger& own)
{
    std::lock_guard<std::mutex> lock(mutex);
    Member& joined = members[member];
    joined = Member{};
    joined.firstSlot = own.firstSlot;
    if (mode == K4A_WIRED_SYNC_MODE_SUBORDINATE && !master)
        joined.waitsForMaster = true;
    if (mode == K4A_WIRED_SYNC_MODE_MASTER) {
        master = member;
        for (auto& entry : members)
            if (entry.second.waitsForMaster) {
                entry.second.waitsForMaster = false;
                entry.second.firstSlot = own.firstSlot;
                entry.second.trigger = own;
            }
        changed.notify_all();
    }
    return joined.waitsForMaster;
}

void FrameRig::leave(const DeviceSession* member)
{
    std::lock_guard<std::mutex> lock(mutex);
    members.erase(member);
    if (master == member)
        master = nullptr;
    changed.notify_all();
}

FrameRig::MasterWait FrameRig::awaitMaster(const DeviceSession* member, std::chrono::steady_clock::time_point deadline,
                                           RigTrigger& trigger)
{
    std::unique_lock<std::mutex> lock(mutex);
    const auto triggeredOrGone = [&] {
        const auto mine = members.find(member);
        return mine == members.end() || mine->second.trigger.has_value();
    };
    changed.wait_until(lock, deadline, triggeredOrGone);
    const auto mine = members.find(member);
    if (mine == members.end())
        return MasterWait::Left;
    if (!mine->second.trigger)
        return MasterWait::TimedOut;
    trigger = *mine->second.trigger;
    return MasterWait::Triggered;
}

// Members that wait for their master take no rounds yet, so no round waits for them.
bool FrameRig::allTookRound() const
{
    return std::all_of(members.begin(), members.end(), [this](const auto& entry) {
        return entry.second.waitsForMaster || entry.second.taken == round;
    });
}

// The latest first slot of the members that take rounds: no earlier round has a frame of each.
std::uint64_t FrameRig::latestFirstSlot() const
{
    std::uint64_t latest = 0;
    for (const auto& entry : members)
        if (!entry.second.waitsForMaster)
            latest = std::max(latest, entry.second.firstSlot);
    return latest;
}

std::uint64_t FrameRig::nextFrame(const DeviceSession* member, std::uint64_t dueSlot)
{
    std::unique_lock<std::mutex> lock(mutex);
    auto mine = members.find(member);
    if (mine == members.end())
        return dueSlot;
    for (;;) {
        if (started && mine->second.taken != round) {
            mine->second.taken = round; // this round's frame, late or not
            if (round >= mine->second.firstSlot)
                return round;
            changed.notify_all(); // a round from before the member started: it has no frame of it
        }
        const std::uint64_t entered = round;
        changed.wait_for(lock, kLongestWaitForMembers,
                         [&] { return round != entered || allTookRound() || members.count(member) == 0; });
        mine = members.find(member);
        if (mine == members.end())
            return dueSlot;
        if (round == entered) {
            round = std::max(started ? std::max(dueSlot, round + 1) : dueSlot, latestFirstSlot());
            started = true;
        }
        mine->second.taken = round;
        changed.notify_all();
        if (round >= mine->second.firstSlot)
            return round;
    }
}

} // namespace k4a_layer
