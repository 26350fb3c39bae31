#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavorin {

// RVL, the lossless depth coding of A. D. Wilson ("Fast Lossless Depth Image Compression", 2017)
// that ROS's compressed_depth_image_transport sends, byte for byte as its rvl_codec writes it.
// The pixels, row after row, alternate a run of zeros and a run of non-zeros; the stream holds,
// for each pair, the two run lengths and then, for each non-zero pixel, its difference to the
// previous non-zero pixel (the first one's to 0) zig-zagged (0, -1, 1, -2 .. to 0, 1, 2, 3 ..).
// Every number is a code of 3-bit groups, the lowest first, one a nibble whose fourth bit says
// that another group follows. Nibbles fill 32-bit little-endian words from the most significant
// end; the last word is padded with zero nibbles.
// Both functions are pure: any thread, any number at once. On processors with AVX2, or AVX-512
// with byte compression (VBMI2), they take vector code for runs of small differences, to the
// same bytes and depths.

// The stream of `pixels` depths (millimetres, 0 where there is none); fewer than 2^32 pixels.
std::vector<std::uint8_t> encodeRvl(const std::uint16_t* depthMm, std::size_t pixels);

// Decodes `pixels` depths from the `size` bytes at `data` into `depthMm`. False when the stream
// ends before the last pixel, a run goes past the last pixel, or a code holds more than 32 bits;
// `depthMm` is then partly written, never past `pixels`. Work and reads stay within `size` and
// `pixels` for any bytes. Bytes after the last code, and a last partial word, are ignored.
// Differences add modulo 2^16, as in ROS's decoder.
bool decodeRvl(const std::uint8_t* data, std::size_t size, std::uint16_t* depthMm, std::size_t pixels);

// The kernels the codec may take, the fastest the processor has by default. Limiting them (tests
// do, to check each path on one machine) applies to every thread; returns the kernels now in use.
enum class RvlKernels { Plain, Avx2, Avx512 };
RvlKernels limitRvlKernels(RvlKernels most);

} // namespace tavorin
