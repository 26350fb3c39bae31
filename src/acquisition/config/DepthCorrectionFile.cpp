#include "acquisition/config/DepthCorrectionFile.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "base/Console.h"
#include "base/RegularFile.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace tavorin {

namespace {

constexpr char kOffsetKey[] = "offsetMm";
constexpr char kScaleKey[] = "scale";
constexpr double kMaxOffsetMm = 100.0;
constexpr double kMaxScale = 0.05;
constexpr std::size_t kMaxFileBytes = 1 << 16;

} // namespace

std::string depthCorrectionPath(const std::string& modelMatrixPath)
{
    return besideModelMatrix(modelMatrixPath, ".depth.json");
}

bool loadDepthCorrection(const std::string& path, DepthCorrection& correction)
{
    std::string text;
    std::string fault;
    const FileRead read = readRegularFile(path, kMaxFileBytes, text, fault);
    if (read == FileRead::Missing)
        return false;
    try {
        if (read == FileRead::Refused)
            throw std::runtime_error(fault);
        const nlohmann::json document = nlohmann::json::parse(text);
        if (!document.is_object() || !document.contains(kOffsetKey) || !document.contains(kScaleKey)
            || !document[kOffsetKey].is_number() || !document[kScaleKey].is_number())
            throw std::runtime_error("it needs the numbers \"offsetMm\" and \"scale\"");
        const DepthCorrection loaded{document[kOffsetKey].get<double>(), document[kScaleKey].get<double>()};
        if (!(std::fabs(loaded.offsetMm) <= kMaxOffsetMm) || !(std::fabs(loaded.scale) <= kMaxScale))
            throw std::runtime_error("an offset beyond 100 mm or a scale beyond 5 % is no sensor's error");
        correction = loaded;
        console::out("Depth correction loaded from ", path, ": ", correction.offsetMm, " mm, ", correction.scale * 100.0,
                     " %");
        return true;
    } catch (const std::exception& error) {
        console::err("Ignoring depth correction ", path, ": ", error.what());
        return false;
    }
}

bool writeDepthCorrection(const std::string& path, const DepthCorrection& correction)
{
    const nlohmann::json document = {{kOffsetKey, correction.offsetMm}, {kScaleKey, correction.scale}};
    return replaceKeptFile(path, document.dump(4), "depth correction", "Stored depth correction to ");
}

} // namespace tavorin
