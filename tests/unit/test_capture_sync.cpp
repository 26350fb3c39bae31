#include "acquisition/FrameSetMatcher.h"
#include "acquisition/SyncChain.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using tavorin::FrameSetMatcher, tavorin::planSyncChain, tavorin::SyncJacks, tavorin::SyncRole;

namespace {

constexpr std::int64_t kPeriodUsec = 33333;

struct MatchCase {
    std::string name;
    std::vector<std::int64_t> delays; // configured, per camera
    std::int64_t jitterUsec;          // alternating sign per frame, cameras 1 and 2
    std::int64_t extraOffsetUsec;     // camera 2's timestamps beyond its configured delay
    std::set<int> droppedByCamera1;   // frames camera 1 never delivers
    std::size_t expectedSets;
    std::size_t expectedDropped;
};

class FrameSetMatching : public ::testing::TestWithParam<MatchCase> {};

// Ten frames per camera, pushed camera after camera each frame period; every set popped must hold
// the same frame of every camera.
TEST_P(FrameSetMatching, MatchesByDeviceTimestampAndCountsTheFramesWithoutPartner)
{
    const MatchCase& m = GetParam();
    constexpr int kFrames = 10;
    FrameSetMatcher matcher(m.delays);
    std::size_t sets = 0;
    for (int f = 0; f < kFrames; ++f) {
        for (std::size_t c = 0; c < m.delays.size(); ++c) {
            if (c == 1 && m.droppedByCamera1.count(f))
                continue;
            const std::int64_t jitter = c == 0 ? 0 : (f % 2 ? m.jitterUsec : -m.jitterUsec);
            const std::int64_t extra = c == 2 ? m.extraOffsetUsec : 0;
            matcher.push(c, 5000000 + f * kPeriodUsec + m.delays[c] + jitter + extra, static_cast<std::uint64_t>(f));
        }
        while (const auto set = matcher.pop()) {
            ASSERT_EQ(set->size(), m.delays.size());
            for (std::uint64_t frame : *set)
                EXPECT_EQ(frame, set->front());
            EXPECT_LE(matcher.lastSpreadUsec(), FrameSetMatcher::kToleranceUsec);
            ++sets;
        }
    }
    EXPECT_EQ(sets, m.expectedSets);
    EXPECT_EQ(matcher.droppedCount(), m.expectedDropped);
}

// A frame missing in one camera costs the other cameras' frames of that instant; a camera whose
// clock is off by more than the tolerance never pairs, and its frames and the others' are dropped.
INSTANTIATE_TEST_SUITE_P(
    FrameSetMatcher, FrameSetMatching,
    ::testing::Values(MatchCase{"aligned", {0, 160, 320}, 0, 0, {}, 10, 0},
                      MatchCase{"jitter", {0, 160, 320}, 400, 0, {}, 10, 0},
                      MatchCase{"drops", {0, 160, 320}, 300, 0, {3, 7}, 8, 4},
                      MatchCase{"misaligned", {0, 160, 320}, 0, 5000, {}, 0, 28}),
    [](const ::testing::TestParamInfo<MatchCase>& info) { return info.param.name; });

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
