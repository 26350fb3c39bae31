#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavorin {

// The data of a sensor_msgs/CompressedImage on "<topic>/compressedDepth", laid out as ROS's
// compressed_depth_image_transport writes it: a 12-byte header (int32 compression format, then two
// float32 quantisation parameters, little-endian; read only for quantised 32FC1 depth), then for
// "rvl" the uint32 columns and rows (little-endian) and the RVL stream (network/codec/RvlCodec.h), for
// "png" a PNG of the image (16-bit grey, big-endian samples). The message's `format` holds the
// image encoding before its first ';' and the codec after it: "16UC1; compressedDepth rvl",
// "16UC1; compressedDepth png", or "16UC1; compressedDepth" (older publishers: PNG). Depths are
// millimetres, 0 where there is none, rows from the top. All functions are pure: any thread.

constexpr char kCompressedDepthRvlFormat[] = "16UC1; compressedDepth rvl";
constexpr char kCompressedDepthPngFormat[] = "16UC1; compressedDepth png";

struct DecodedDepth {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint16_t> depthMm; // width * height
};

// Decodes the `size` bytes at `data` of a message with 16UC1 or mono16 depth into `out`, whose
// vector keeps its capacity from call to call. Empty on success, else one line that says why not
// (a format other than 16-bit depth in RVL or PNG, 32FC1 inverse depth, a message that ends early,
// a side of 0 or above `maxSide` pixels, a stream that does not decode, a PNG of another kind);
// `out` then holds no image. Sizes are checked before anything is allocated, so that no message
// makes it allocate more than maxSide^2 depths.
std::string decodeCompressedDepth(const std::string& format, const std::uint8_t* data, std::size_t size,
                                  std::uint32_t maxSide, DecodedDepth& out);

// The data of a message of kCompressedDepthRvlFormat for `width` x `height` depths. The depths go
// in as they are; ROS's publisher first sets those beyond its depth_max parameter (10 m) to 0.
std::vector<std::uint8_t> encodeCompressedDepthRvl(const std::uint16_t* depthMm, std::uint32_t width,
                                                   std::uint32_t height);

// The same as a message of kCompressedDepthPngFormat, at zlib level 3 (ROS's default png_level);
// empty only when libpng runs out of memory.
std::vector<std::uint8_t> encodeCompressedDepthPng(const std::uint16_t* depthMm, std::uint32_t width,
                                                   std::uint32_t height);

} // namespace tavorin
