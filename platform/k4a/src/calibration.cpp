// Raw calibration blobs and the calibration calls of the SDK's C API, for the depth camera.
#include <k4a/k4a.h>

#include "calibration_model.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <string>

namespace {

constexpr const char* kDepthLocation = "CALIBRATION_CameraLocationD0";
constexpr const char* kColorLocation = "CALIBRATION_CameraLocationPV0";
constexpr const char* kGyroType = "CALIBRATION_InertialSensorType_Gyro";
constexpr const char* kAccelerometerType = "CALIBRATION_InertialSensorType_Accelerometer";
constexpr const char* kBrownConrady = "CALIBRATION_LensDistortionModelBrownConrady";
constexpr const char* kRational6KT = "CALIBRATION_LensDistortionModelRational6KT";
constexpr int kRawDepthSensorSize = 1024; // the raw depth intrinsics are normalised by this size
constexpr float kDefaultMetricRadius = 1.7f;
constexpr float kUnsetMetricRadius = 0.0001f;
constexpr unsigned kModelParameterCount = 14; // cx cy fx fy k1..k6 codx cody p2 p1

// Sensor crop of a depth mode: image size and the offset of its top-left corner on the sensor.
struct DepthModeCrop {
    int width;
    int height;
    float offsetX;
    float offsetY;
};

bool depthModeCrop(k4a_depth_mode_t mode, DepthModeCrop& crop)
{
    switch (mode) {
    case K4A_DEPTH_MODE_NFOV_UNBINNED:
        crop = {640, 576, 192.0f, 180.0f};
        return true;
    case K4A_DEPTH_MODE_WFOV_UNBINNED:
    case K4A_DEPTH_MODE_PASSIVE_IR:
        crop = {1024, 1024, 0.0f, 0.0f};
        return true;
    default:
        return false;
    }
}

// The blob's text up to its terminating NUL, which must lie inside the given size, as the SDK
// requires; false without one.
bool blobText(const char* raw, size_t size, std::string& text)
{
    const void* nul = std::memchr(raw, '\0', size);
    if (!nul)
        return false;
    text.assign(raw, static_cast<const char*>(nul) - raw);
    return true;
}

bool parseModelType(const std::string& name, k4a_calibration_model_type_t& type)
{
    if (name == kBrownConrady)
        type = K4A_CALIBRATION_LENS_DISTORTION_MODEL_BROWN_CONRADY;
    else if (name == kRational6KT)
        type = K4A_CALIBRATION_LENS_DISTORTION_MODEL_RATIONAL_6KT;
    else
        return false;
    return true;
}

const nlohmann::json* findEntry(const nlohmann::json& root, const char* list, const char* key, const char* value)
{
    const auto info = root.find("CalibrationInformation");
    if (info == root.end() || !info->is_object())
        return nullptr;
    const auto entries = info->find(list);
    if (entries == info->end() || !entries->is_array())
        return nullptr;
    for (const nlohmann::json& entry : *entries)
        if (entry.is_object() && entry.value(key, std::string()) == value)
            return &entry;
    return nullptr;
}

const nlohmann::json* findCamera(const nlohmann::json& root, const char* location)
{
    return findEntry(root, "Cameras", "Location", location);
}

const nlohmann::json* findInertialSensor(const nlohmann::json& root, const char* type)
{
    return findEntry(root, "InertialSensors", "SensorType", type);
}

// Raw extrinsics: rotation row-major, translation in metres; the SDK's are in millimetres.
void readExtrinsics(const nlohmann::json& rt, k4a_calibration_extrinsics_t& extrinsics)
{
    const auto& rotation = rt.at("Rotation");
    const auto& translation = rt.at("Translation");
    if (rotation.size() != 9 || translation.size() != 3)
        throw std::runtime_error("bad extrinsics");
    for (int i = 0; i < 9; ++i)
        extrinsics.rotation[i] = static_cast<float>(rotation.at(i).get<double>());
    for (int i = 0; i < 3; ++i)
        extrinsics.translation[i] = static_cast<float>(translation.at(i).get<double>() * 1000.0);
}

// Normalised raw intrinsics to the pixels of the mode's crop, pixel centres at integers.
void toModePixels(k4a_calibration_intrinsic_parameters_t& p, const DepthModeCrop& crop)
{
    constexpr float kPixelCentre = 0.5f;
    const float size = static_cast<float>(kRawDepthSensorSize);
    p.param.cx = p.param.cx * size - crop.offsetX - kPixelCentre;
    p.param.cy = p.param.cy * size - crop.offsetY - kPixelCentre;
    p.param.fx = p.param.fx * size;
    p.param.fy = p.param.fy * size;
}

// A camera entry's model, metric radius and extrinsics, in the raw (normalised) units. The
// metric radius goes only to the camera's own field: the SDK leaves the one among the model
// parameters unset.
bool readCamera(const nlohmann::json& camera, k4a_calibration_camera_t& out)
{
    const auto& intrinsics = camera.at("Intrinsics");
    if (!parseModelType(intrinsics.at("ModelType").get<std::string>(), out.intrinsics.type))
        return false;
    const auto& parameters = intrinsics.at("ModelParameters");
    if (!parameters.is_array() || parameters.size() < kModelParameterCount)
        return false;
    for (unsigned i = 0; i < kModelParameterCount; ++i)
        out.intrinsics.parameters.v[i] = static_cast<float>(parameters.at(i).get<double>());
    out.intrinsics.parameter_count = kModelParameterCount;
    const float radius = static_cast<float>(camera.at("MetricRadius").get<double>());
    out.metric_radius = radius <= kUnsetMetricRadius ? kDefaultMetricRadius : radius;
    readExtrinsics(camera.at("Rt"), out.extrinsics);
    return camera.at("SensorWidth").get<int>() > 0 && camera.at("SensorHeight").get<int>() > 0;
}

bool readDepthCamera(const nlohmann::json& camera, const DepthModeCrop& crop, k4a_calibration_camera_t& out)
{
    if (!readCamera(camera, out) || camera.at("SensorWidth").get<int>() != kRawDepthSensorSize
        || camera.at("SensorHeight").get<int>() != kRawDepthSensorSize)
        return false;
    toModePixels(out.intrinsics.parameters, crop);
    out.resolution_width = crop.width;
    out.resolution_height = crop.height;
    return true;
}

// The SDK refuses a blob without the colour camera and both inertial sensors, each complete.
bool hasColorCameraAndImu(const nlohmann::json& root)
{
    const nlohmann::json* color = findCamera(root, kColorLocation);
    k4a_calibration_camera_t colorCamera{};
    if (!color || !readCamera(*color, colorCamera))
        return false;
    for (const char* type : {kGyroType, kAccelerometerType}) {
        const nlohmann::json* sensor = findInertialSensor(root, type);
        if (!sensor)
            return false;
        k4a_calibration_extrinsics_t extrinsics{};
        readExtrinsics(sensor->at("Rt"), extrinsics);
    }
    return true;
}

void setIdentityExtrinsics(k4a_calibration_t& calibration)
{
    for (auto& row : calibration.extrinsics)
        for (auto& extrinsics : row) {
            extrinsics = k4a_calibration_extrinsics_t{};
            extrinsics.rotation[0] = extrinsics.rotation[4] = extrinsics.rotation[8] = 1.0f;
        }
}

bool depthToDepth(const k4a_calibration_t* calibration, k4a_calibration_type_t source, k4a_calibration_type_t target)
{
    return calibration && source == K4A_CALIBRATION_TYPE_DEPTH && target == K4A_CALIBRATION_TYPE_DEPTH;
}

} // namespace

extern "C" {

k4a_result_t k4a_calibration_get_from_raw(char* raw_calibration, size_t raw_calibration_size,
                                          const k4a_depth_mode_t depth_mode,
                                          const k4a_color_resolution_t color_resolution,
                                          k4a_calibration_t* calibration)
{
    DepthModeCrop crop{};
    if (!raw_calibration || !calibration || !depthModeCrop(depth_mode, crop))
        return K4A_RESULT_FAILED;
    k4a_calibration_t result{};
    std::string text;
    if (!blobText(raw_calibration, raw_calibration_size, text))
        return K4A_RESULT_FAILED;
    try {
        const nlohmann::json root = nlohmann::json::parse(text);
        const nlohmann::json* depthCamera = findCamera(root, kDepthLocation);
        if (!depthCamera || !readDepthCamera(*depthCamera, crop, result.depth_camera_calibration)
            || !hasColorCameraAndImu(root))
            return K4A_RESULT_FAILED;
    } catch (const nlohmann::json::exception&) {
        return K4A_RESULT_FAILED;
    } catch (const std::runtime_error&) {
        return K4A_RESULT_FAILED;
    }
    setIdentityExtrinsics(result);
    result.depth_mode = depth_mode;
    result.color_resolution = color_resolution;
    *calibration = result;
    return K4A_RESULT_SUCCEEDED;
}

k4a_result_t k4a_calibration_2d_to_3d(const k4a_calibration_t* calibration,
                                      const k4a_float2_t* source_point2d, const float source_depth_mm,
                                      const k4a_calibration_type_t source_camera,
                                      const k4a_calibration_type_t target_camera,
                                      k4a_float3_t* target_point3d_mm, int* valid)
{
    if (!depthToDepth(calibration, source_camera, target_camera) || !source_point2d || !target_point3d_mm || !valid)
        return K4A_RESULT_FAILED;
    target_point3d_mm->xyz = {0.0f, 0.0f, 0.0f};
    *valid = 0;
    if (source_depth_mm == 0.0f)
        return K4A_RESULT_SUCCEEDED;
    float ray[2];
    if (!k4a_model::unprojectToNormalized(calibration->depth_camera_calibration, source_point2d->v, ray))
        return K4A_RESULT_SUCCEEDED;
    target_point3d_mm->xyz = {ray[0] * source_depth_mm, ray[1] * source_depth_mm, source_depth_mm};
    *valid = 1;
    return K4A_RESULT_SUCCEEDED;
}

k4a_result_t k4a_calibration_3d_to_2d(const k4a_calibration_t* calibration,
                                      const k4a_float3_t* source_point3d_mm,
                                      const k4a_calibration_type_t source_camera,
                                      const k4a_calibration_type_t target_camera,
                                      k4a_float2_t* target_point2d, int* valid)
{
    if (!depthToDepth(calibration, source_camera, target_camera) || !source_point3d_mm || !target_point2d || !valid)
        return K4A_RESULT_FAILED;
    *valid = 0;
    const float z = source_point3d_mm->xyz.z;
    if (!(z > 0.0f)) {
        target_point2d->xy = {0.0f, 0.0f};
        return K4A_RESULT_SUCCEEDED;
    }
    if (k4a_model::projectNormalized(calibration->depth_camera_calibration, source_point3d_mm->xyz.x / z,
                                     source_point3d_mm->xyz.y / z, target_point2d->v))
        *valid = 1;
    return K4A_RESULT_SUCCEEDED;
}

} // extern "C"
