#include "GroundTruth.h"

#include "base/Console.h"
#include "base/RegularFile.h"

#include <nlohmann/json.hpp>

#include <cmath>

using tavorin::Mat4, tavorin::Vec4;
namespace console = tavorin::console;

namespace {

std::string baseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<Mat4> matrixOf(const nlohmann::json& entry, const char* key)
{
    constexpr std::size_t kMatrixNumbers = 16;
    if (!entry.contains(key) || !entry[key].is_array() || entry[key].size() != kMatrixNumbers)
        return std::nullopt;
    std::array<float, 16> values{};
    for (std::size_t i = 0; i < kMatrixNumbers; ++i) {
        if (!entry[key][i].is_number())
            return std::nullopt;
        values[i] = entry[key][i].get<float>();
    }
    return Mat4(values);
}

Vec4 vectorOf(const nlohmann::json& value, float w)
{
    if (!value.is_array() || value.size() != 3 || !value[0].is_number() || !value[1].is_number()
        || !value[2].is_number())
        throw std::runtime_error("a vector is not three numbers");
    return Vec4(value[0].get<float>(), value[1].get<float>(), value[2].get<float>(), w);
}

} // namespace

const GroundTruth::Camera* GroundTruth::cameraFor(const std::string& path, std::size_t index) const
{
    for (const Camera& camera : cameras)
        if (!camera.file.empty() && baseName(camera.file) == baseName(path))
            return &camera;
    for (const Camera& camera : cameras)
        if (!camera.serial.empty() && path.find(camera.serial) != std::string::npos)
            return &camera;
    return index < cameras.size() ? &cameras[index] : nullptr;
}

const GroundTruth::PlateFrame* GroundTruth::plateAt(double t) const
{
    constexpr double kHalfFrame = 0.5 / 30.0;
    const PlateFrame* nearest = nullptr;
    for (const PlateFrame& frame : trajectory)
        if (!nearest || std::fabs(frame.timestamp - t) < std::fabs(nearest->timestamp - t))
            nearest = &frame;
    return nearest && std::fabs(nearest->timestamp - t) <= kHalfFrame ? nearest : nullptr;
}

std::optional<GroundTruth> loadGroundTruth(const std::string& path)
{
    constexpr std::size_t kMaxBytes = std::size_t(256) << 20;
    std::string text;
    std::string fault;
    const tavorin::FileRead read = tavorin::readRegularFile(path, kMaxBytes, text, fault);
    if (read != tavorin::FileRead::Read) {
        console::err("Cannot read ground truth ", path, ": ", read == tavorin::FileRead::Missing ? "no such file" : fault);
        return std::nullopt;
    }
    try {
        const nlohmann::json json = nlohmann::json::parse(text);
        GroundTruth truth;
        for (const nlohmann::json& entry : json.at("cameras")) {
            GroundTruth::Camera camera;
            camera.file = entry.value("file", "");
            camera.serial = entry.value("serial", "");
            camera.T_room_camera = matrixOf(entry, "modelMatrixRoom");
            camera.T_camera0_camera = matrixOf(entry, "modelMatrixRelativeToCamera0");
            if (entry.contains("depthError"))
                camera.depthError = tavorin::DepthCorrection{entry["depthError"].at("offsetMm").get<double>(),
                                                             entry["depthError"].at("scale").get<double>()};
            constexpr double kMsPerSecond = 1000.0;
            camera.clockOffsetSeconds = entry.value("clockOffsetMs", 0.0) / kMsPerSecond;
            truth.cameras.push_back(camera);
        }
        if (json.contains("plate") && json["plate"].contains("size") && json["plate"]["size"].is_number())
            truth.plateSize = json["plate"]["size"].get<float>();
        if (json.contains("trajectory")) {
            for (const nlohmann::json& entry : json["trajectory"]) {
                GroundTruth::PlateFrame frame;
                frame.timestamp = entry.at("timestamp").get<double>();
                frame.centre = vectorOf(entry.at("centre"), 1.0f);
                frame.u = vectorOf(entry.at("u"), 0.0f);
                frame.v = vectorOf(entry.at("v"), 0.0f);
                frame.normal = vectorOf(entry.at("normal"), 0.0f);
                truth.trajectory.push_back(frame);
            }
        }
        return truth;
    } catch (const std::exception& e) {
        console::err("Ground truth ", path, " is unusable: ", e.what());
        return std::nullopt;
    }
}
