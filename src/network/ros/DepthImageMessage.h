#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tavorin {

// The checks and the conversion of a received ROS 2 sensor_msgs/Image of depth. Accepted
// encodings: "16UC1" and "mono16" (unsigned millimetres, 0 where there is no measurement) and
// "32FC1" (float metres, NaN or infinite where there is none). `isBigendian` is the message's
// is_bigendian (0 or 1); `step` is the row length in bytes, rows run from the top.

// Empty when the image can be converted, else one line that says what is wrong: a side of 0 or
// above `maxSide` pixels, another encoding, is_bigendian other than 0 or 1, a step shorter than a
// row of pixels, or a data size other than step * height bytes.
std::string depthImageFault(std::uint32_t width, std::uint32_t height, const std::string& encoding,
                            std::uint8_t isBigendian, std::uint32_t step, std::size_t dataSize,
                            std::uint32_t maxSide);

// Converts an image that passed depthImageFault into `depthMm`, width * height values, rows from
// the top without padding. 16-bit values are taken as they are, in the message's byte order;
// 32FC1 metres are rounded to the nearest millimetre (halves away from zero), and a depth that is
// not finite, negative or above 65535 mm after rounding becomes 0 (no measurement).
void depthImageToMm(const std::uint8_t* data, std::uint32_t width, std::uint32_t height, std::uint32_t step,
                    const std::string& encoding, std::uint8_t isBigendian, std::uint16_t* depthMm);

} // namespace tavorin
