#include "network/ros/DepthImageMessage.h"

#include <cassert>
#include <cmath>
#include <cstring>
#include <sstream>

namespace tavorin {

namespace {

constexpr std::size_t kBytes16 = 2;
constexpr std::size_t kBytes32 = 4;

// Bytes per pixel of a depth encoding; 0 for one we do not read.
std::size_t pixelBytes(const std::string& encoding)
{
    if (encoding == "16UC1" || encoding == "mono16")
        return kBytes16;
    if (encoding == "32FC1")
        return kBytes32;
    return 0;
}

bool hostIsBigEndian()
{
    constexpr std::uint16_t kProbe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &kProbe, 1);
    return first == 0;
}

std::uint16_t read16(const std::uint8_t* bytes, bool bigEndian)
{
    return static_cast<std::uint16_t>(bigEndian ? bytes[0] << 8 | bytes[1] : bytes[1] << 8 | bytes[0]);
}

// The float of four bytes in the given order (IEEE 754 single, whose byte order is the integers').
float readFloat(const std::uint8_t* bytes, bool bigEndian)
{
    const std::uint32_t b0 = bytes[0], b1 = bytes[1], b2 = bytes[2], b3 = bytes[3];
    const std::uint32_t bits = bigEndian ? b0 << 24 | b1 << 16 | b2 << 8 | b3 : b3 << 24 | b2 << 16 | b1 << 8 | b0;
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Metres to the nearest millimetre; 0 (no measurement) for NaN, infinities, negative depths and
// depths beyond what 16 bits hold.
std::uint16_t millimetresOf(float metres)
{
    constexpr double kMmPerMetre = 1000.0;
    constexpr double kMaxMm = 65535.0;
    const double mm = std::round(static_cast<double>(metres) * kMmPerMetre);
    return mm >= 0.0 && mm <= kMaxMm ? static_cast<std::uint16_t>(mm) : 0;
}

void convert16(const std::uint8_t* data, std::uint32_t width, std::uint32_t height, std::uint32_t step,
               bool bigEndian, std::uint16_t* depthMm)
{
    const std::size_t rowBytes = kBytes16 * width;
    const bool hostOrder = bigEndian == hostIsBigEndian();
    if (hostOrder && step == rowBytes) {
        std::memcpy(depthMm, data, rowBytes * height);
        return;
    }
    for (std::size_t row = 0; row < height; ++row, data += step, depthMm += width) {
        if (hostOrder)
            std::memcpy(depthMm, data, rowBytes);
        else
            for (std::size_t column = 0; column < width; ++column)
                depthMm[column] = read16(data + kBytes16 * column, bigEndian);
    }
}

void convert32F(const std::uint8_t* data, std::uint32_t width, std::uint32_t height, std::uint32_t step,
                bool bigEndian, std::uint16_t* depthMm)
{
    for (std::size_t row = 0; row < height; ++row, data += step, depthMm += width)
        for (std::size_t column = 0; column < width; ++column)
            depthMm[column] = millimetresOf(readFloat(data + kBytes32 * column, bigEndian));
}

} // namespace

std::string depthImageFault(std::uint32_t width, std::uint32_t height, const std::string& encoding,
                            std::uint8_t isBigendian, std::uint32_t step, std::size_t dataSize,
                            std::uint32_t maxSide)
{
    // 32-bit factors: their products fit in 64 bits.
    const std::size_t bytes = pixelBytes(encoding);
    const std::uint64_t rowBytes = std::uint64_t{width} * bytes;
    const std::uint64_t imageBytes = std::uint64_t{step} * height;
    std::ostringstream fault;
    if (width == 0 || height == 0 || width > maxSide || height > maxSide)
        fault << "image of " << width << " x " << height << " pixels; each side must be 1 to " << maxSide;
    else if (bytes == 0)
        fault << "encoding \"" << encoding << "\" is no depth encoding (16UC1, mono16 or 32FC1)";
    else if (isBigendian > 1)
        fault << "is_bigendian is " << static_cast<int>(isBigendian) << " (0 or 1)";
    else if (step < rowBytes)
        fault << "step of " << step << " bytes is shorter than a row of " << width << " " << encoding << " pixels ("
              << rowBytes << " bytes)";
    else if (std::uint64_t{dataSize} != imageBytes)
        fault << "data of " << dataSize << " bytes, not step * height = " << imageBytes;
    return fault.str();
}

void depthImageToMm(const std::uint8_t* data, std::uint32_t width, std::uint32_t height, std::uint32_t step,
                    const std::string& encoding, std::uint8_t isBigendian, std::uint16_t* depthMm)
{
    assert(pixelBytes(encoding) != 0 && "depthImageToMm: the image must pass depthImageFault");
    if (pixelBytes(encoding) == kBytes16)
        convert16(data, width, height, step, isBigendian != 0, depthMm);
    else
        convert32F(data, width, height, step, isBigendian != 0, depthMm);
}

} // namespace tavorin
