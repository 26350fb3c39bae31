#pragma once

#include "calibration/quality/RegistrationProgress.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavorin {

// How good one camera's calibration is, at a glance. The thresholds:
// - good: the joint estimate trusts the camera, its hole residual is within 1 mm, its 1 sigma
//   within 0.5 mm and 0.05 degrees, and the plate was seen in at least a quarter of its image;
// - marginal: trusted (1 sigma within 3 mm and 0.2 degrees, residual within 3 mm, 10 frame sets)
//   but short of good;
// - poor: an estimate came and does not trust the camera;
// - waiting: no estimate for it yet.
// The reference camera (camera 0) is not estimated: it is good once it saw the plate in 10
// frames over a quarter of its image, marginal with less of the image.
enum class CalibrationVerdict { Waiting, Good, Marginal, Poor };

struct QualityThresholds {
    static constexpr double kGoodRmsMm = 1.0;
    static constexpr double kGoodSigmaMm = 0.5;
    static constexpr double kGoodSigmaDeg = 0.05;
    static constexpr double kGoodCoverage = 0.25;
    static constexpr std::size_t kMinReferenceFrames = 10;
};

// `estimated`: a joint estimate of this camera set has come.
CalibrationVerdict calibrationVerdict(const RegistrationProgress& progress, double coverageShare, bool estimated);
const char* verdictName(CalibrationVerdict verdict); // "good", "marginal", "poor", "waiting"

// The figures beside a camera's verdict in the bar, for example "RMS 0.44 mm, 1σ 0.12 mm 0.004°,
// plate in 62 % of the image", or why it is not calibrated. What keeps a calibrated camera (or the
// reference) from "good" is said in place: "coverage 15 % of 25 %: carry the plate to the dark
// cells", and "good needs RMS ≤ 1 mm, 1σ ≤ 0.5 mm and 0.05°" when a figure is above its limit.
std::string qualityLine(const RegistrationProgress& progress, double coverageShare);

// One camera's row of the bar's quality section: its name and matrix file, its verdict and line,
// and where its image has seen the plate (PlateCoverage's cells, row-major).
struct CameraQuality {
    std::string name;
    std::string configPath;
    std::string verdict; // verdictName(), empty before registration ran
    std::string line;    // qualityLine(), empty before registration ran
    bool reference = false;
    double rmsMm = 0.0;
    double sigmaMm = 0.0;
    double sigmaDeg = 0.0;
    std::vector<std::uint32_t> coverage;
};

// What is kept of a stored calibration beside the camera's matrix file, in
// "<stem>.calibration.json": when it was stored, and its figures.
struct CalibrationRecord {
    std::string storedAt; // local time, "2026-12-09 23:41"
    double rmsMm = 0.0;
    double sigmaMm = 0.0;
    double sigmaDeg = 0.0;
    std::string verdict;
};
std::string calibrationRecordPath(const std::string& modelMatrixPath);
// Writes the record (atomically); false, with a line on standard error, when it cannot.
bool storeCalibrationRecord(const std::string& modelMatrixPath, const CalibrationRecord& record);
// The record beside a camera's matrix file; none when there is none or it is unreadable (said on
// standard error once per call).
std::optional<CalibrationRecord> loadCalibrationRecord(const std::string& modelMatrixPath);
// "Stored 2026-12-09 23:41: RMS 0.44 mm, 1σ 0.12 mm 0.004° (good)".
std::string calibrationRecordLine(const CalibrationRecord& record);

} // namespace tavorin
