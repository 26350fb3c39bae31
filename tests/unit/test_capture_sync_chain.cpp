#include "acquisition/SyncChain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tavorin::planSyncChain, tavorin::SyncJacks, tavorin::SyncRole;

namespace {

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
