#pragma once

#include <string>

// A raw calibration blob in the device's JSON format for the sample camera with this index:
// the depth camera of a retail device (Brown-Conrady, 1024 x 1024 sensor) with small per-device
// differences, a colour camera and the two inertial sensors.
std::string sampleCalibrationBlob(int cameraIndex, const std::string& serial);
