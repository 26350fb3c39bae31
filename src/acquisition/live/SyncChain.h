#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavorin {

// How one device takes part in wired synchronisation.
enum class SyncRole { Standalone, Master, Subordinate };

// What a device's sync jacks report: a cable in sync-in, a cable in sync-out.
struct SyncJacks {
    bool syncIn = false;
    bool syncOut = false;
};

struct SyncAssignment {
    SyncRole role = SyncRole::Standalone;
    // Microseconds this device's depth capture starts after the master's: subordinates are 160 us
    // apart from each other and from the master so that their lasers never pulse together.
    std::uint32_t subordinateDelayUsec = 0;
};

// The cameras' wired synchronisation as their jacks show it. One chain: the device with only a
// sync-out cable is the master, every device with a sync-in cable a subordinate, each offset by
// 160 us from the one before; a device with no cable, or every device when the jacks describe no
// single chain, stays standalone.
struct SyncPlan {
    std::vector<SyncAssignment> devices; // in the order of the jacks given
    // Device indices in the order they must be started: subordinates before the master, whose
    // first pulse they must not miss.
    std::vector<std::size_t> startOrder;
    std::string description; // one console line: which device has which role, or why none
};

constexpr std::uint32_t kDepthExposureSpacingUsec = 160;

SyncPlan planSyncChain(const std::vector<SyncJacks>& jacks, const std::vector<std::string>& serials);

// The settings bar's words for the plan: "standalone" or "synchronised, N subordinates".
std::string syncModeText(const SyncPlan& plan);

} // namespace tavorin
