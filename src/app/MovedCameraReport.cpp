#include "app/MovedCameraReport.h"


namespace tavorin {

std::string MovedCameraReport::lineFor(const MovedCameraCheck& camera)
{
    const auto known = said.find(camera.configPath);
    if (!camera.check.hasReference) {
        if (known != said.end())
            said.erase(known);
        return {};
    }
    if (known != said.end() && known->second == camera.check.verdict)
        return {};
    said[camera.configPath] = camera.check.verdict;
    return "Camera " + std::to_string(camera.index) + " (" + camera.name + "): "
        + driftVerdictText(camera.check.estimate, camera.check.verdict, camera.check.storedAt);
}

} // namespace tavorin
