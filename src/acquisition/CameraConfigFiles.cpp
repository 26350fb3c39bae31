#include "acquisition/CameraConfigFiles.h"

#include "acquisition/DepthCameraData.h"
#include "app/SceneState.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdio>
#include <fstream>
#include <iostream>

namespace {

constexpr const char* kMatrixKey = "modelMatrix";
constexpr std::size_t kMatrixSize = 16;

// Recording file names are kinect_<12-digit serial>.h5: the serial starts 8 characters after the
// last "/" (counting the "/"), and the folder tag is the 3 characters before it.
constexpr std::size_t kSerialOffset = 8;
constexpr std::size_t kSerialLength = 12;
constexpr std::size_t kFolderTagLength = 3;

std::string recordingSet(const std::string& folderTag)
{
    if (folderTag == "OP1" || folderTag == "OP2" || folderTag == "OP3")
        return "a";
    if (folderTag == "OP4" || folderTag == "OP5" || folderTag == "OP6")
        return "b";
    if (folderTag == "OP7" || folderTag == "OP8" || folderTag == "OP9")
        return "c";
    if (folderTag == ".h5")
        return "velto";
    return "default";
}

// Short paths give the characters that exist instead of reading past either end.
std::string clampedSubstring(const std::string& text, std::size_t start, std::size_t length)
{
    return start < text.size() ? text.substr(start, length) : std::string();
}

} // namespace

std::string liveCameraConfigPath(const std::string& serial)
{
    return "config/cameras/azure/azure_kinect_" + serial + ".json";
}

std::string recordingConfigPath(const std::string& recordingPath)
{
    const std::size_t slash = recordingPath.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    const std::string serial = clampedSubstring(recordingPath, slash + kSerialOffset, kSerialLength);
    const std::size_t tagStart = slash >= kFolderTagLength ? slash - kFolderTagLength : 0;
    const std::string folderTag = recordingPath.substr(tagStart, slash - tagStart);
    std::cout << "Filename Serial: " << serial << " | FilenameOP: " << folderTag << std::endl;
    return "config/cameras/hdf5/" + recordingSet(folderTag) + "/kinect_" + serial + ".json";
}

bool loadModelMatrix(const std::string& path, Mat4& matrix)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    try {
        const nlohmann::json document = nlohmann::json::parse(in);
        if (!document.is_object())
            return false;
        const auto member = document.find(kMatrixKey);
        if (member == document.end() || member->size() != kMatrixSize)
            return false;
        std::array<float, kMatrixSize> values;
        for (std::size_t i = 0; i < kMatrixSize; ++i) {
            const nlohmann::json& element = member->at(i);
            if (!element.is_number())
                throw std::invalid_argument("element " + std::to_string(i) + " of \"modelMatrix\" is not a number");
            values[i] = static_cast<float>(element.get<double>());
        }
        matrix = Mat4(values);
        return true;
    } catch (const std::exception& error) {
        std::cerr << "Ignoring camera configuration " << path << ": " << error.what() << std::endl;
        return false;
    }
}

bool writeModelMatrix(const std::string& path, const Mat4& matrix)
{
    nlohmann::json values = nlohmann::json::array();
    for (float value : matrix.m)
        values.push_back(static_cast<double>(value));
    const nlohmann::json document = {{kMatrixKey, values}};
    const std::string text = document.dump(4);

    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            std::cerr << "Unable to write camera configuration " << path << std::endl;
            out.close();
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::cerr << "Unable to replace camera configuration " << path << std::endl;
        std::remove(temporary.c_str());
        return false;
    }
    std::cout << "Stored Depth Camera Configuration to " << path << std::endl;
    return true;
}

bool storeCalibrations(const SceneState& state)
{
    bool allWritten = true;
    for (const std::shared_ptr<DepthCameraData>& camera : state.cameras) {
        if (camera->configPath.empty())
            continue;
        allWritten = writeModelMatrix(camera->configPath, camera->modelMatrix) && allWritten;
    }
    return allWritten;
}
