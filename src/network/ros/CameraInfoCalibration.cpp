#include "network/ros/CameraInfoCalibration.h"

#include <nlohmann/json.hpp>

namespace tavorin {

namespace {

constexpr std::uint32_t kNarrowWidth = 640;
constexpr std::uint32_t kNarrowHeight = 576;
// The narrow unbinned mode crops the 1024 x 1024 sensor from (192, 180); the blob's intrinsics are
// normalised by the sensor's side, with pixel centres at +0.5.
constexpr double kSensorSide = 1024.0;
constexpr double kCropX = 192.0;
constexpr double kCropY = 180.0;
constexpr double kPixelCentre = 0.5;
constexpr double kMetricRadius = 1.74; // the devices' own, in normalised units

// (k1, k2, p1, p2, k3, k4, k5, k6) of a rational polynomial, (k1, k2, p1, p2, k3) of plumb bob.
struct Coefficients {
    double k[6] = {};
    double p1 = 0.0;
    double p2 = 0.0;
};

Coefficients coefficientsOf(const CameraInfoFields& model)
{
    Coefficients c;
    const auto at = [&](std::size_t i) { return i < model.d.size() ? model.d[i] : 0.0; };
    c.k[0] = at(0);
    c.k[1] = at(1);
    c.p1 = at(2);
    c.p2 = at(3);
    c.k[2] = at(4);
    if (model.distortionModel == "rational_polynomial") {
        c.k[3] = at(5);
        c.k[4] = at(6);
        c.k[5] = at(7);
    }
    return c;
}

nlohmann::json identityRt()
{
    return {{"Rotation", {1, 0, 0, 0, 1, 0, 0, 0, 1}}, {"Translation", {0, 0, 0}}};
}

} // namespace

std::vector<float> cameraParameterRowFor(const CameraInfoFields& model)
{
    const Coefficients c = coefficientsOf(model);
    return {static_cast<float>(model.k[2] + kPixelCentre), static_cast<float>(model.k[5] + kPixelCentre),
            static_cast<float>(model.k[0]), static_cast<float>(model.k[4]),
            static_cast<float>(c.k[0]), static_cast<float>(c.k[1]), static_cast<float>(c.k[2]),
            static_cast<float>(c.k[3]), static_cast<float>(c.k[4]), static_cast<float>(c.k[5]), 0.0f, 0.0f,
            static_cast<float>(c.p2), static_cast<float>(c.p1)};
}

std::string rawCalibrationBlobFor(const CameraInfoFields& model)
{
    if (model.width != kNarrowWidth || model.height != kNarrowHeight)
        return {};
    const Coefficients c = coefficientsOf(model);
    const nlohmann::json depthParameters = {(model.k[2] + kCropX + kPixelCentre) / kSensorSide,
                                            (model.k[5] + kCropY + kPixelCentre) / kSensorSide,
                                            model.k[0] / kSensorSide,
                                            model.k[4] / kSensorSide,
                                            c.k[0], c.k[1], c.k[2], c.k[3], c.k[4], c.k[5], 0.0, 0.0, c.p2, c.p1};
    const nlohmann::json depth = {{"Location", "CALIBRATION_CameraLocationD0"},
                                  {"Intrinsics",
                                   {{"ModelType", "CALIBRATION_LensDistortionModelBrownConrady"},
                                    {"ModelParameterCount", 14},
                                    {"ModelParameters", depthParameters}}},
                                  {"MetricRadius", kMetricRadius},
                                  {"Rt", identityRt()},
                                  {"SensorWidth", 1024},
                                  {"SensorHeight", 1024}};
    // The colour camera and the inertial sensors only complete the blob as a device's has them.
    const nlohmann::json colour = {{"Location", "CALIBRATION_CameraLocationPV0"},
                                   {"Intrinsics",
                                    {{"ModelType", "CALIBRATION_LensDistortionModelBrownConrady"},
                                     {"ModelParameterCount", 14},
                                     {"ModelParameters", {0.5, 0.5, 0.5, 0.5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}}},
                                   {"MetricRadius", 0.0},
                                   {"Rt", identityRt()},
                                   {"SensorWidth", 4096},
                                   {"SensorHeight", 3072}};
    const nlohmann::json blob = {
        {"CalibrationInformation",
         {{"Cameras", {depth, colour}},
          {"InertialSensors",
           {{{"SensorType", "CALIBRATION_InertialSensorType_Gyro"}, {"Rt", identityRt()}},
            {{"SensorType", "CALIBRATION_InertialSensorType_Accelerometer"}, {"Rt", identityRt()}}}}}}};
    return blob.dump();
}

} // namespace tavorin
