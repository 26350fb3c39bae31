#include "acquisition/live/SyncChain.h"

#include <algorithm>

namespace tavorin {

namespace {

std::string serialOf(const std::vector<std::string>& serials, std::size_t i)
{
    return i < serials.size() ? serials[i] : "device " + std::to_string(i);
}

SyncPlan allStandalone(std::size_t devices, std::string why)
{
    SyncPlan plan;
    plan.devices.assign(devices, SyncAssignment{});
    for (std::size_t i = 0; i < devices; ++i)
        plan.startOrder.push_back(i);
    plan.description = std::move(why);
    return plan;
}

} // namespace

SyncPlan planSyncChain(const std::vector<SyncJacks>& jacks, const std::vector<std::string>& serials)
{
    std::vector<std::size_t> masters, subordinates;
    for (std::size_t i = 0; i < jacks.size(); ++i) {
        if (jacks[i].syncIn)
            subordinates.push_back(i);
        else if (jacks[i].syncOut)
            masters.push_back(i);
    }
    if (subordinates.empty() && masters.empty())
        return allStandalone(jacks.size(), "Wired sync: no sync cables, every camera runs standalone");
    if (masters.size() != 1 || subordinates.empty())
        return allStandalone(jacks.size(), "Wired sync: the sync cables form no single chain (" + std::to_string(masters.size())
                                               + " devices with only sync-out, " + std::to_string(subordinates.size())
                                               + " with sync-in); every camera runs standalone");
    SyncPlan plan;
    plan.devices.assign(jacks.size(), SyncAssignment{});
    const std::size_t master = masters.front();
    plan.devices[master].role = SyncRole::Master;
    std::string line = "Wired sync: master " + serialOf(serials, master) + ", subordinates";
    std::uint32_t delay = 0;
    for (std::size_t s : subordinates) {
        delay += kDepthExposureSpacingUsec;
        plan.devices[s] = SyncAssignment{SyncRole::Subordinate, delay};
        plan.startOrder.push_back(s);
        line += " " + serialOf(serials, s) + " (+" + std::to_string(delay) + " us)";
    }
    for (std::size_t i = 0; i < jacks.size(); ++i) {
        if (plan.devices[i].role == SyncRole::Standalone) {
            plan.startOrder.push_back(i);
            line += ", standalone " + serialOf(serials, i);
        }
    }
    plan.startOrder.push_back(master);
    plan.description = line;
    return plan;
}

std::string syncModeText(const SyncPlan& plan)
{
    const auto subordinates = std::count_if(plan.devices.begin(), plan.devices.end(),
                                            [](const SyncAssignment& d) { return d.role == SyncRole::Subordinate; });
    if (subordinates == 0)
        return "standalone";
    return "synchronised, " + std::to_string(subordinates) + (subordinates == 1 ? " subordinate" : " subordinates");
}

} // namespace tavorin
