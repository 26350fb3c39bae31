#pragma once

#include "network/ros/CameraInfoModel.h"

#include <string>
#include <vector>

namespace tavorin {

// A network camera's model in the forms a recording keeps, so that its recordings play back with
// the same rays: the raw calibration blob of an Azure Kinect depth camera in its narrow unbinned
// mode (640 x 576) with this model (the device's Brown-Conrady model is the rational polynomial
// with the same coefficients), and the per-frame parameter row (principal point with pixel centres
// at +0.5, focal lengths, k1..k6, codx, cody, p2, p1).

// Empty for another image size or model: such a recording keeps the pinhole parameters only.
std::string rawCalibrationBlobFor(const CameraInfoFields& model);
std::vector<float> cameraParameterRowFor(const CameraInfoFields& model);

} // namespace tavorin
