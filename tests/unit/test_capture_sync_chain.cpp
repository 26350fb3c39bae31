#include "acquisition/live/CaptureClock.h"
#include "acquisition/live/SyncChain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

using tavorin::CaptureClock, tavorin::planSyncChain, tavorin::SyncJacks, tavorin::SyncRole;

namespace {

// A device whose frames are captured every 1/30 s from host second 100, its crystal 50 ppm slow
// against the host's, each system timestamp late by a USB latency of up to 3 ms (the first frame
// by all of it): every capture time is compared with the true instant.
TEST(CaptureClock, LeastLatencyOriginFollowsTheBestFramesAndTheDrift)
{
    constexpr double kHostStart = 100.0;
    constexpr double kPeriod = 1.0 / 30.0;
    constexpr double kSlow = 50e-6;
    constexpr double kMostLatency = 0.003;
    constexpr int kFrames = 30 * 120; // two minutes: 6 ms of drift
    // The worst error after ten seconds lies within [least, most] seconds: the first frame's origin
    // keeps its 3 ms of latency, less the drift.
    const struct {
        CaptureClock::Origin origin;
        double least, most;
    } cases[] = {{CaptureClock::Origin::LeastLatency, 0.0, 0.0006}, {CaptureClock::Origin::FirstFrame, 0.0025, 0.0035}};
    for (const auto& c : cases) {
        CaptureClock clock(c.origin);
        std::mt19937 random(7);
        std::uniform_real_distribution<double> latency(0.0, kMostLatency);
        double worst = 0.0;
        for (int f = 0; f < kFrames; ++f) {
            const double captured = kHostStart + f * kPeriod;
            const double deviceSeconds = f * kPeriod * (1.0 - kSlow);
            const double received = captured + (f == 0 ? kMostLatency : latency(random));
            const double placed = clock.hostSeconds(static_cast<std::uint64_t>(std::llround(deviceSeconds * 1e6)),
                                                    static_cast<std::uint64_t>(std::llround(received * 1e9)));
            if (f >= 300)
                worst = std::max(worst, std::fabs(placed - captured));
        }
        EXPECT_GE(worst, c.least) << static_cast<int>(c.origin);
        EXPECT_LE(worst, c.most) << static_cast<int>(c.origin);
    }
}

TEST(SyncChain, JacksGiveTheRolesTheDelaysAndTheStartOrder)
{
    const std::vector<std::string> serials = {"A", "B", "C"};
    const struct {
        const char* name;
        std::vector<SyncJacks> jacks;
        std::vector<SyncRole> roles;
        std::vector<std::uint32_t> delays;
        std::vector<std::size_t> startOrder;
        const char* mode;
    } cases[] = {
        {"no cables", {{}, {}, {}}, {SyncRole::Standalone, SyncRole::Standalone, SyncRole::Standalone}, {0, 0, 0}, {0, 1, 2},
         "standalone"},
        {"chain B -> A -> C",
         {{true, true}, {false, true}, {true, false}},
         {SyncRole::Subordinate, SyncRole::Master, SyncRole::Subordinate},
         {160, 0, 320},
         {0, 2, 1},
         "synchronised, 2 subordinates"},
        {"C without cable", {{false, true}, {true, false}, {}}, {SyncRole::Master, SyncRole::Subordinate, SyncRole::Standalone},
         {0, 160, 0}, {1, 2, 0}, "synchronised, 1 subordinate"},
        {"two masters", {{false, true}, {false, true}, {true, false}},
         {SyncRole::Standalone, SyncRole::Standalone, SyncRole::Standalone}, {0, 0, 0}, {0, 1, 2}, "standalone"},
        {"master unplugged", {{true, false}, {}, {}}, {SyncRole::Standalone, SyncRole::Standalone, SyncRole::Standalone},
         {0, 0, 0}, {0, 1, 2}, "standalone"},
    };
    for (const auto& c : cases) {
        const tavorin::SyncPlan plan = planSyncChain(c.jacks, serials);
        ASSERT_EQ(plan.devices.size(), c.jacks.size()) << c.name;
        for (std::size_t i = 0; i < c.jacks.size(); ++i) {
            EXPECT_EQ(plan.devices[i].role, c.roles[i]) << c.name << " device " << i;
            EXPECT_EQ(plan.devices[i].subordinateDelayUsec, c.delays[i]) << c.name << " device " << i;
        }
        EXPECT_EQ(plan.startOrder, c.startOrder) << c.name;
        EXPECT_EQ(tavorin::syncModeText(plan), c.mode) << c.name;
        EXPECT_EQ(plan.description.rfind("Wired sync: ", 0), 0u) << c.name;
    }
}

} // namespace
