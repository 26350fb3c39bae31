#include "acquisition/model/RawCalibrationBlob.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>

namespace tavorin {

namespace {

using nlohmann::json;

// The blob's first missing or wrong field; the text follows "the raw calibration blob".
struct Fault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr std::size_t kModelParameters = 14;
constexpr std::size_t kRotationNumbers = 9;
constexpr std::size_t kTranslationNumbers = 3;
constexpr int kDepthSensorSide = 1024;

const json& member(const json& object, const char* key, const std::string& where)
{
    const auto found = object.find(key);
    if (found == object.end())
        throw Fault("has no \"" + std::string(key) + "\"" + where);
    return *found;
}

void requireNumbers(const json& object, const char* key, std::size_t count, const std::string& where)
{
    const json& value = member(object, key, where);
    const bool numbers = value.is_array() && value.size() >= count
        && std::all_of(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(count),
                       [](const json& v) { return v.is_number(); });
    if (!numbers)
        throw Fault("has a \"" + std::string(key) + "\"" + where + " that is not " + std::to_string(count)
                    + " numbers");
}

void requireNumber(const json& object, const char* key, const std::string& where)
{
    if (!member(object, key, where).is_number())
        throw Fault("has a \"" + std::string(key) + "\"" + where + " that is not a number");
}

void requireExtrinsics(const json& entry, const std::string& where)
{
    const json& rt = member(entry, "Rt", where);
    if (!rt.is_object())
        throw Fault("has an \"Rt\"" + where + " that is not an object");
    requireNumbers(rt, "Rotation", kRotationNumbers, where);
    requireNumbers(rt, "Translation", kTranslationNumbers, where);
}

const json& entryOf(const json& information, const char* list, const char* key, const char* value,
                    const std::string& what)
{
    const json& entries = member(information, list, "");
    if (!entries.is_array())
        throw Fault("has a \"" + std::string(list) + "\" that is not an array");
    for (const json& entry : entries)
        if (entry.is_object() && entry.value(key, std::string()) == value)
            return entry;
    throw Fault("has no " + what + " (\"" + key + "\": \"" + value + "\")");
}

// `sensorSide`: the side the sensor must have, 0 for any positive one.
void requireCamera(const json& camera, const std::string& where, int sensorSide)
{
    const json& intrinsics = member(camera, "Intrinsics", where);
    if (!intrinsics.is_object())
        throw Fault("has \"Intrinsics\"" + where + " that are not an object");
    const json& type = member(intrinsics, "ModelType", where);
    if (type != "CALIBRATION_LensDistortionModelBrownConrady" && type != "CALIBRATION_LensDistortionModelRational6KT")
        throw Fault("has a \"ModelType\"" + where + " that is no known lens model: " + type.dump());
    requireNumbers(intrinsics, "ModelParameters", kModelParameters, where);
    requireNumber(camera, "MetricRadius", where);
    requireExtrinsics(camera, where);
    for (const char* key : {"SensorWidth", "SensorHeight"}) {
        const json& side = member(camera, key, where);
        const bool fits = side.is_number_integer() && side.get<long long>() > 0
            && (sensorSide == 0 || side.get<long long>() == sensorSide);
        if (!fits)
            throw Fault("has a \"" + std::string(key) + "\"" + where + " of " + side.dump() + ", not "
                        + (sensorSide == 0 ? std::string("a positive integer") : std::to_string(sensorSide)));
    }
}

} // namespace

std::string rawCalibrationFault(const std::vector<std::uint8_t>& blob)
{
    const auto end = std::find(blob.begin(), blob.end(), std::uint8_t(0));
    const std::string text(blob.begin(), end);
    try {
        const json root = json::parse(text);
        if (!root.is_object())
            return "is JSON but not an object";
        const json& information = member(root, "CalibrationInformation", "");
        if (!information.is_object())
            return "has a \"CalibrationInformation\" that is not an object";
        const json& depth = entryOf(information, "Cameras", "Location", "CALIBRATION_CameraLocationD0", "depth camera");
        requireCamera(depth, " for the depth camera", kDepthSensorSide);
        const json& colour = entryOf(information, "Cameras", "Location", "CALIBRATION_CameraLocationPV0", "colour camera");
        requireCamera(colour, " for the colour camera", 0);
        for (const auto& [type, name] : {std::pair{"CALIBRATION_InertialSensorType_Gyro", "gyroscope"},
                                         std::pair{"CALIBRATION_InertialSensorType_Accelerometer", "accelerometer"}})
            requireExtrinsics(entryOf(information, "InertialSensors", "SensorType", type, name),
                              std::string(" for the ") + name);
    } catch (const json::parse_error& error) {
        return "is not JSON (" + std::string(error.what()) + ")";
    } catch (const Fault& fault) {
        return fault.what();
    } catch (const json::exception& error) {
        return "cannot be read (" + std::string(error.what()) + ")";
    }
    return {};
}

} // namespace tavorin
