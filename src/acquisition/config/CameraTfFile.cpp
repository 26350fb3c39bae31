#include "acquisition/config/CameraTfFile.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "base/Console.h"
#include "base/RegularFile.h"
#include "scene/CameraIdentity.h"
#include "scene/DepthCameraData.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace tavorin {

namespace {

constexpr char kParentKey[] = "parent";
constexpr char kChildKey[] = "child";
constexpr std::size_t kMaxFileBytes = 1 << 16;
constexpr std::size_t kMaxFrameNameLength = 256;

// Why `name` cannot be the `key` frame, or empty. The name itself is not repeated: it may hold
// anything.
std::string frameNameFault(const char* key, const std::string& name)
{
    if (!isFrameName(name))
        return std::string("the ") + key + " is no frame name (1 to 256 printable ASCII characters without spaces)";
    return {};
}

std::string frameName(const nlohmann::json& document, const char* key)
{
    const auto member = document.find(key);
    if (member == document.end() || !member->is_string())
        throw std::runtime_error(std::string("it needs the string \"") + key + "\"");
    const std::string name = member->get<std::string>();
    const std::string fault = frameNameFault(key, name);
    if (!fault.empty())
        throw std::runtime_error(fault);
    return name;
}

} // namespace

bool isFrameName(const std::string& name)
{
    return !name.empty() && name.size() <= kMaxFrameNameLength
        && std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c <= '~'; });
}

std::string cameraTfPath(const std::string& modelMatrixPath)
{
    return besideModelMatrix(modelMatrixPath, ".tf.json");
}

std::optional<CameraTfFrames> loadCameraTfFrames(const std::string& path)
{
    std::string text;
    std::string fault;
    const FileRead read = readRegularFile(path, kMaxFileBytes, text, fault);
    if (read == FileRead::Missing)
        return std::nullopt;
    try {
        if (read == FileRead::Refused)
            throw std::runtime_error(fault);
        const nlohmann::json document = nlohmann::json::parse(text);
        if (!document.is_object())
            throw std::runtime_error("the top level is not an object");
        return CameraTfFrames{frameName(document, kParentKey), frameName(document, kChildKey)};
    } catch (const std::exception& error) {
        console::err("Ignoring tf frames ", path, ": ", error.what());
        return std::nullopt;
    }
}

bool writeCameraTfFrames(const std::string& path, const CameraTfFrames& frames)
{
    for (const auto& [key, name] : {std::pair(kParentKey, frames.parent), std::pair(kChildKey, frames.child)}) {
        const std::string fault = frameNameFault(key, name);
        if (!fault.empty()) {
            console::err("Unable to write tf frames ", path, ": ", fault);
            return false;
        }
    }
    const nlohmann::json document = {{kParentKey, frames.parent}, {kChildKey, frames.child}};
    return replaceKeptFile(path, document.dump(4), "tf frames", "Stored tf frames to ");
}

std::string tfChildFrame(const DepthCameraData& camera)
{
    if (!camera.frameId.empty())
        return camera.frameId;
    return pathSafeSerial(cameraShortName(camera.sourceName)) + "_depth";
}

std::string tfParentFrame(const std::vector<std::shared_ptr<DepthCameraData>>& cameras)
{
    if (cameras.empty() || cameras.front()->modelMatrix != Mat4::identity())
        return kRoomFrame;
    return tfChildFrame(*cameras.front());
}

} // namespace tavorin
