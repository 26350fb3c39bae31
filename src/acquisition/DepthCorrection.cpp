#include "acquisition/DepthCorrection.h"

#include "acquisition/CameraConfigFiles.h"
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
constexpr double kMmPerMetre = 1000.0;

} // namespace

DepthCorrection DepthCorrection::after(const DepthCorrection& first) const
{
    return DepthCorrection{(1.0 + first.scale) * offsetMm + first.offsetMm, (1.0 + first.scale) * (1.0 + scale) - 1.0};
}

void DepthCorrection::removeFrom(float* points, std::size_t count) const
{
    if (isIdentity())
        return;
    const double offsetM = offsetMm / kMmPerMetre;
    const double inverseGain = 1.0 / (1.0 + scale);
    for (std::size_t k = 0; k < count; ++k) {
        float* p = points + 4 * k;
        const double range = std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]);
        if (!(range > 0.0))
            continue;
        const double factor = (range - offsetM) * inverseGain / range;
        p[0] = static_cast<float>(p[0] * factor);
        p[1] = static_cast<float>(p[1] * factor);
        p[2] = static_cast<float>(p[2] * factor);
    }
}

std::string depthCorrectionPath(const std::string& modelMatrixPath)
{
    constexpr char kJson[] = ".json";
    if (modelMatrixPath.empty())
        return {};
    const std::size_t stem = modelMatrixPath.size() >= 5 && modelMatrixPath.compare(modelMatrixPath.size() - 5, 5, kJson) == 0
        ? modelMatrixPath.size() - 5
        : modelMatrixPath.size();
    return modelMatrixPath.substr(0, stem) + ".depth.json";
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
