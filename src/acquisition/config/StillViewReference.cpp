#include "acquisition/config/StillViewReference.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "base/Console.h"
#include "base/RegularFile.h"
#include "network/codec/CompressedDepth.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <ctime>
#include <stdexcept>

namespace tavorin {

namespace {

constexpr char kFormat[] = "tavorin still view 1";
constexpr double kUnitMm = 0.25;               // one step of the stored image
constexpr float kMaxDepthMm = 65535 * kUnitMm; // 16.4 m
constexpr std::uint32_t kMaxSide = 4096;
constexpr std::size_t kMaxFileBytes = 16 << 20;

struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Why the reference cannot be stored, or empty.
std::string defectOf(const StillViewReference& reference)
{
    if (reference.width <= 0 || reference.height <= 0
        || reference.depthMm.size() != static_cast<std::size_t>(reference.width) * reference.height)
        return "its size " + std::to_string(reference.width) + " x " + std::to_string(reference.height)
            + " does not match its " + std::to_string(reference.depthMm.size()) + " depths";
    std::size_t measured = 0;
    for (float d : reference.depthMm) {
        if (!(d >= 0.0f && d <= kMaxDepthMm))
            return "a depth of " + std::to_string(d) + " mm is beyond what it can hold (0 to 16 m)";
        measured += d > 0.0f ? 1 : 0;
    }
    if (measured == 0)
        return "it holds no still depth";
    return {};
}

std::string encoded(const StillViewReference& reference)
{
    std::vector<std::uint16_t> steps(reference.depthMm.size());
    for (std::size_t k = 0; k < steps.size(); ++k)
        steps[k] = static_cast<std::uint16_t>(std::lround(reference.depthMm[k] / kUnitMm));
    const std::vector<std::uint8_t> image = encodeCompressedDepthPng(steps.data(), static_cast<std::uint32_t>(reference.width),
                                                                     static_cast<std::uint32_t>(reference.height));
    if (image.empty())
        throw Refused("the image cannot be compressed (out of memory)");
    const nlohmann::json header = {{"format", kFormat},
                                   {"storedAt", reference.storedAt},
                                   {"depthCorrection", {{"offsetMm", reference.depthCorrection.offsetMm},
                                                        {"scale", reference.depthCorrection.scale}}},
                                   {"width", reference.width},
                                   {"height", reference.height},
                                   {"frames", reference.frames},
                                   {"unitMm", kUnitMm}};
    return header.dump() + "\n" + std::string(image.begin(), image.end());
}

void decode(const std::string& text, std::int32_t width, std::int32_t height, StillViewReference& reference)
{
    const std::size_t end = text.find('\n');
    if (end == std::string::npos)
        throw Refused("it has no header line");
    const nlohmann::json header = nlohmann::json::parse(text.substr(0, end), nullptr, false);
    if (!header.is_object() || header.value("format", std::string()) != kFormat)
        throw Refused("it is not a still view reference (\"" + std::string(kFormat) + "\")");
    if (!header.contains("width") || !header["width"].is_number_integer() || !header.contains("height")
        || !header["height"].is_number_integer() || header.value("unitMm", 0.0) != kUnitMm)
        throw Refused("its header lacks the image's size or unit");
    DecodedDepth image;
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data()) + end + 1;
    const std::string fault = decodeCompressedDepth(kCompressedDepthPngFormat, data, text.size() - end - 1, kMaxSide, image);
    if (!fault.empty())
        throw Refused("its image does not decode: " + fault);
    if (static_cast<std::int64_t>(image.width) != header["width"].get<std::int64_t>()
        || static_cast<std::int64_t>(image.height) != header["height"].get<std::int64_t>())
        throw Refused("its image is not the size its header gives");
    if (width > 0 && height > 0 && (static_cast<std::int32_t>(image.width) != width
                                    || static_cast<std::int32_t>(image.height) != height))
        throw Refused("it is " + std::to_string(image.width) + " x " + std::to_string(image.height)
                      + " pixels, the camera's images " + std::to_string(width) + " x " + std::to_string(height));
    reference.width = static_cast<std::int32_t>(image.width);
    reference.height = static_cast<std::int32_t>(image.height);
    reference.depthMm.resize(image.depthMm.size());
    for (std::size_t k = 0; k < image.depthMm.size(); ++k)
        reference.depthMm[k] = static_cast<float>(image.depthMm[k] * kUnitMm);
    reference.storedAt = header.value("storedAt", std::string());
    reference.frames = header.value("frames", 0);
    const nlohmann::json correction = header.value("depthCorrection", nlohmann::json::object());
    reference.depthCorrection = DepthCorrection{correction.value("offsetMm", 0.0), correction.value("scale", 0.0)};
}

} // namespace

std::string stillViewReferencePath(const std::string& modelMatrixPath)
{
    return besideModelMatrix(modelMatrixPath, ".still.bin");
}

bool writeStillViewReference(const std::string& path, const StillViewReference& reference)
{
    std::string text;
    try {
        const std::string defect = defectOf(reference);
        if (!defect.empty())
            throw Refused(defect);
        text = encoded(reference);
    } catch (const std::exception& error) {
        console::err("Unable to write still view reference ", path, ": ", error.what());
        return false;
    }
    return replaceKeptFile(path, text, "still view reference", "Stored still view reference to ");
}

ReferenceRead loadStillViewReference(const std::string& path, std::int32_t width, std::int32_t height,
                                     StillViewReference& reference, std::string& why)
{
    std::string text;
    const FileRead read = readRegularFile(path, kMaxFileBytes, text, why);
    if (read == FileRead::Missing)
        return ReferenceRead::Missing;
    if (read == FileRead::Refused)
        return ReferenceRead::Refused;
    try {
        decode(text, width, height, reference);
        return ReferenceRead::Read;
    } catch (const std::exception& error) {
        why = error.what();
        return ReferenceRead::Refused;
    }
}

std::string referenceDate()
{
    char date[16] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local))
        std::strftime(date, sizeof date, "%Y-%m-%d", &local);
    return date;
}

} // namespace tavorin
