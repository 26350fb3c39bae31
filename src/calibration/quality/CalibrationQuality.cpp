#include "calibration/quality/CalibrationQuality.h"

#include "base/Console.h"
#include "base/RegularFile.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace tavorin {

namespace {

constexpr std::size_t kMaxRecordBytes = 1 << 14;

double number(const nlohmann::json& document, const char* key)
{
    const auto at = document.find(key);
    return at != document.end() && at->is_number() ? at->get<double>() : std::nan("");
}

bool precise(const RegistrationProgress& progress)
{
    return progress.rmsMm <= QualityThresholds::kGoodRmsMm && progress.sigmaMm <= QualityThresholds::kGoodSigmaMm
        && progress.sigmaDeg <= QualityThresholds::kGoodSigmaDeg;
}

} // namespace

CalibrationVerdict calibrationVerdict(const RegistrationProgress& progress, double coverageShare, bool estimated)
{
    const bool covered = coverageShare >= QualityThresholds::kGoodCoverage;
    if (progress.reference) {
        if (progress.framesFound < QualityThresholds::kMinReferenceFrames)
            return CalibrationVerdict::Waiting;
        return covered ? CalibrationVerdict::Good : CalibrationVerdict::Marginal;
    }
    if (!progress.calibrated)
        return estimated ? CalibrationVerdict::Poor : CalibrationVerdict::Waiting;
    return precise(progress) && covered ? CalibrationVerdict::Good : CalibrationVerdict::Marginal;
}

const char* verdictName(CalibrationVerdict verdict)
{
    switch (verdict) {
    case CalibrationVerdict::Good:
        return "good";
    case CalibrationVerdict::Marginal:
        return "marginal";
    case CalibrationVerdict::Poor:
        return "poor";
    case CalibrationVerdict::Waiting:
        break;
    }
    return "waiting";
}

std::string qualityLine(const RegistrationProgress& progress, double coverageShare)
{
    constexpr std::size_t kPartBytes = 160;
    char part[kPartBytes];
    const int coverage = static_cast<int>(std::lround(coverageShare * 100.0));
    if (coverageShare >= QualityThresholds::kGoodCoverage || !(progress.reference || progress.calibrated))
        std::snprintf(part, sizeof part, "plate in %d %% of the image", coverage);
    else
        std::snprintf(part, sizeof part, "coverage %d %% of %d %%: carry the plate to the dark cells", coverage,
                      static_cast<int>(std::lround(QualityThresholds::kGoodCoverage * 100.0)));
    const std::string where = part;
    if (progress.reference)
        return "Reference, " + where;
    if (!progress.calibrated)
        return (progress.notCalibratedWhy.empty() ? "Not calibrated yet" : progress.notCalibratedWhy) + ", " + where;
    std::snprintf(part, sizeof part, "RMS %.2f mm, 1\u03c3 %.2f mm %.3f\u00b0, ", progress.rmsMm, progress.sigmaMm,
                  progress.sigmaDeg);
    std::string line = part + where;
    if (!precise(progress)) {
        std::snprintf(part, sizeof part, "; good needs RMS \u2264 %g mm, 1\u03c3 \u2264 %g mm and %g\u00b0",
                      QualityThresholds::kGoodRmsMm, QualityThresholds::kGoodSigmaMm, QualityThresholds::kGoodSigmaDeg);
        line += part;
    }
    return line;
}

std::string calibrationRecordPath(const std::string& modelMatrixPath)
{
    constexpr char kJson[] = ".json";
    if (modelMatrixPath.empty())
        return {};
    const bool json = modelMatrixPath.size() >= 5 && modelMatrixPath.compare(modelMatrixPath.size() - 5, 5, kJson) == 0;
    return modelMatrixPath.substr(0, json ? modelMatrixPath.size() - 5 : modelMatrixPath.size()) + ".calibration.json";
}

bool storeCalibrationRecord(const std::string& modelMatrixPath, const CalibrationRecord& record)
{
    const std::string path = calibrationRecordPath(modelMatrixPath);
    if (path.empty())
        return false;
    const nlohmann::json document = {{"storedAt", record.storedAt}, {"holeRmsMm", record.rmsMm},
                                     {"sigmaMm", record.sigmaMm},   {"sigmaDeg", record.sigmaDeg},
                                     {"verdict", record.verdict}};
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << document.dump(4) << '\n';
        out.flush();
        if (!out) {
            console::err("Unable to write calibration record ", path, ": ", std::strerror(errno));
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        console::err("Unable to write calibration record ", path, ": ", std::strerror(errno));
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<CalibrationRecord> loadCalibrationRecord(const std::string& modelMatrixPath)
{
    const std::string path = calibrationRecordPath(modelMatrixPath);
    std::string text, fault;
    if (path.empty() || readRegularFile(path, kMaxRecordBytes, text, fault) == FileRead::Missing)
        return std::nullopt;
    if (!fault.empty()) {
        console::err("Ignoring calibration record ", path, ": ", fault);
        return std::nullopt;
    }
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
    CalibrationRecord record;
    if (document.is_object()) {
        const auto storedAt = document.find("storedAt");
        const auto verdict = document.find("verdict");
        record.storedAt = storedAt != document.end() && storedAt->is_string() ? storedAt->get<std::string>() : "";
        record.verdict = verdict != document.end() && verdict->is_string() ? verdict->get<std::string>() : "";
        record.rmsMm = number(document, "holeRmsMm");
        record.sigmaMm = number(document, "sigmaMm");
        record.sigmaDeg = number(document, "sigmaDeg");
    }
    if (!document.is_object() || record.storedAt.empty() || !std::isfinite(record.rmsMm) || !std::isfinite(record.sigmaMm)
        || !std::isfinite(record.sigmaDeg)) {
        console::err("Ignoring calibration record ", path, ": it holds no storedAt, holeRmsMm, sigmaMm and sigmaDeg");
        return std::nullopt;
    }
    return record;
}

std::string calibrationRecordLine(const CalibrationRecord& record)
{
    constexpr std::size_t kLineBytes = 200;
    char line[kLineBytes];
    std::snprintf(line, sizeof line, "Stored %s: RMS %.2f mm, 1\u03c3 %.2f mm %.3f\u00b0%s%s%s", record.storedAt.c_str(),
                  record.rmsMm, record.sigmaMm, record.sigmaDeg, record.verdict.empty() ? "" : " (",
                  record.verdict.c_str(), record.verdict.empty() ? "" : ")");
    return line;
}

} // namespace tavorin
