#include "sample_scene/SampleCalibrationBlob.h"

#include <nlohmann/json.hpp>

#include <vector>

namespace {

nlohmann::json rt(std::vector<double> rotation, std::vector<double> translation)
{
    return {{"Rotation", rotation}, {"Translation", translation}};
}

nlohmann::json depthCamera(int i)
{
    const double d = static_cast<double>(i - 1);
    const std::vector<double> parameters = {
        0.50218582153320313 + 0.0041 * d, 0.50179535150527954 - 0.0032 * d,  0.49281969666481018 * (1.0 + 0.0021 * d),
        0.49292713403701782 * (1.0 + 0.0019 * d), 0.58251643180847168 - 0.011 * d, 0.0061361165717244148 + 0.0007 * d,
        -0.0013186802389100194, 0.92561346292495728 - 0.009 * d, 0.12568977475166321 + 0.004 * d,
        -0.0065302476286888123, 0.0, 0.0, -2.0833556845900603e-5 + 1.1e-5 * d, -1.2877916742581874e-4 + 3e-5 * d};
    return {{"Intrinsics",
             {{"ModelParameterCount", 14},
              {"ModelParameters", parameters},
              {"ModelType", "CALIBRATION_LensDistortionModelBrownConrady"}}},
            {"Location", "CALIBRATION_CameraLocationD0"},
            {"MetricRadius", 1.737323045730591 + 0.001 * d},
            {"Purpose", "CALIBRATION_CameraPurposeDepth"},
            {"Rt", rt({1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 0})},
            {"SensorHeight", 1024},
            {"SensorWidth", 1024},
            {"Shutter", "CALIBRATION_ShutterTypeUndefined"},
            {"ThermalAdjustmentParams", {{"Params", std::vector<double>(12, 0.0)}}}};
}

nlohmann::json colourCamera(int i)
{
    const double d = static_cast<double>(i - 1);
    const std::vector<double> parameters = {0.4998 + 0.001 * d, 0.5066 - 0.0008 * d, 0.47797, 0.63742,
                                            0.3301, -2.4894, 1.4537, 0.2089, -2.3029, 1.3751, 0.0, 0.0,
                                            -1.29e-4, -1.62e-4};
    return {{"Intrinsics",
             {{"ModelParameterCount", 14},
              {"ModelParameters", parameters},
              {"ModelType", "CALIBRATION_LensDistortionModelBrownConrady"}}},
            {"Location", "CALIBRATION_CameraLocationPV0"},
            {"MetricRadius", 0},
            {"Purpose", "CALIBRATION_CameraPurposePhotoVideo"},
            {"Rt", rt({0.99999922, 0.00118176, -0.00044814, -0.00113875, 0.99628061, 0.08616032, 0.00054829,
                       -0.08615975, 0.99628121},
                      {-0.0320834 + 0.0002 * d, -0.0022054, 0.0038837})},
            {"SensorHeight", 3072},
            {"SensorWidth", 4096},
            {"Shutter", "CALIBRATION_ShutterTypeUndefined"},
            {"ThermalAdjustmentParams", {{"Params", std::vector<double>(12, 0.0)}}}};
}

nlohmann::json inertialSensor(const char* type, std::vector<double> rotation, double noise)
{
    return {{"BiasTemperatureModel", std::vector<double>(12, 0.0)},
            {"BiasUncertainty", {noise, noise, noise}},
            {"Id", "CALIBRATION_InertialSensorId_LSM6DSM"},
            {"MixingMatrixTemperatureModel",
             {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}},
            {"ModelTypeMask", 16},
            {"Noise", {noise, noise, noise, 0, 0, 0}},
            {"Rt", rt(rotation, {0, 0, 0})},
            {"SecondOrderScaling", std::vector<double>(9, 0.0)},
            {"SensorType", type},
            {"TemperatureBounds", {5, 60}},
            {"TemperatureC", 0}};
}

} // namespace

std::string sampleCalibrationBlob(int cameraIndex, const std::string& serial)
{
    const nlohmann::json blob = {
        {"CalibrationInformation",
         {{"Cameras", {depthCamera(cameraIndex), colourCamera(cameraIndex)}},
          {"InertialSensors",
           {inertialSensor("CALIBRATION_InertialSensorType_Gyro", {0.0018, 0.1124, -0.9937, -1.0, -0.0024, -0.0021,
                                                                   -0.0026, 0.9937, 0.1124},
                           0.00095),
            inertialSensor("CALIBRATION_InertialSensorType_Accelerometer",
                           {0.0018, 0.1124, -0.9937, -1.0, -0.0024, -0.0021, -0.0026, 0.9937, 0.1124}, 0.0108)}},
          {"Metadata",
           {{"SerialId", serial},
            {"FactoryCalDate", "3/2/2020 9:14:02 AM GMT"},
            {"Version", {{"Major", 1}, {"Minor", 2}}},
            {"DeviceName", "AzureKinect-PV"},
            {"Notes", "PV0_max_radius_invalid"}}}}}};
    return blob.dump();
}
