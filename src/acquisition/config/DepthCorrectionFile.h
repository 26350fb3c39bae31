#pragma once

#include "math/DepthCorrection.h"

#include <string>

namespace tavorin {

// The file of a camera's depth correction beside its model-matrix file: "<stem>.depth.json" for
// "<stem>.json"; empty for an empty path. The model-matrix file keeps its format; a camera
// without this file has no correction.
std::string depthCorrectionPath(const std::string& modelMatrixPath);

// Reads the file: true with `correction` set when it holds finite "offsetMm" and "scale" of
// plausible size (|offset| <= 100 mm, |scale| <= 5 %); otherwise the correction stays as it is
// (a missing file silently, any other reason with one line on standard error).
bool loadDepthCorrection(const std::string& path, DepthCorrection& correction);

// Writes the file as configuration files are written (atomically, the replaced content kept as a
// dated copy) and prints "Stored depth correction to <path>"; false, with the reason on standard
// error, when it cannot.
bool writeDepthCorrection(const std::string& path, const DepthCorrection& correction);

} // namespace tavorin
