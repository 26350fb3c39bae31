#include "scene/CameraIdentity.h"

#include <array>

namespace tavorin {

namespace {

constexpr std::array<Vec4, kCameraPaletteSize> kCameraPalette = {
    Vec4(1.00f, 0.55f, 0.00f, 1.0f), // orange
    Vec4(0.00f, 0.85f, 1.00f, 1.0f), // cyan
    Vec4(1.00f, 0.20f, 0.85f, 1.0f), // magenta
    Vec4(1.00f, 0.92f, 0.10f, 1.0f), // yellow
    Vec4(0.55f, 0.35f, 1.00f, 1.0f), // violet
    Vec4(0.00f, 0.60f, 0.50f, 1.0f), // teal
    Vec4(1.00f, 0.60f, 0.70f, 1.0f), // pink
    Vec4(0.65f, 1.00f, 0.20f, 1.0f), // lime
};

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

Vec4 cameraColor(std::size_t index)
{
    return kCameraPalette[index % kCameraPaletteSize];
}

std::string cameraShortName(const std::string& sourceName)
{
    const std::string recordingPrefix = "kinect_";
    const std::string recordingSuffix = ".h5";
    std::string name = sourceName;
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    const std::size_t slash = name.rfind('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.size() > recordingPrefix.size() + recordingSuffix.size() && name.compare(0, recordingPrefix.size(), recordingPrefix) == 0
        && endsWith(name, recordingSuffix))
        name = name.substr(recordingPrefix.size(), name.size() - recordingPrefix.size() - recordingSuffix.size());
    return name;
}

std::string cameraLabel(std::size_t index, const std::string& sourceName)
{
    const std::string name = cameraShortName(sourceName);
    return name.empty() ? std::to_string(index) : std::to_string(index) + "  " + name;
}

} // namespace tavorin
