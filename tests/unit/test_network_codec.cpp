// RVL against streams worked out by hand and against a plain nibble-at-a-time writer of the same
// layout, bit for bit; the compressedDepth message around it, its refusals and hostile bytes.
#include "network/codec/CompressedDepth.h"
#include "network/codec/RvlCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using tavorin::decodeCompressedDepth, tavorin::decodeRvl, tavorin::DecodedDepth, tavorin::encodeCompressedDepthPng,
    tavorin::encodeCompressedDepthRvl, tavorin::encodeRvl;

namespace {

using Depths = std::vector<std::uint16_t>;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kMaxMm = 65535;
constexpr std::uint32_t kWidth = 640;
constexpr std::uint32_t kHeight = 576;
constexpr std::uint32_t kMaxSide = 4096;

// The layout written the slow way: one nibble at a time into 32-bit words, first nibble on top.
Bytes referenceRvl(const Depths& depths)
{
    Bytes out;
    std::uint32_t word = 0;
    int nibbles = 0;
    const auto putNibble = [&](std::uint32_t nibble) {
        word = word << 4 | nibble;
        if (++nibbles == 8) {
            for (int byte = 0; byte < 4; ++byte)
                out.push_back(static_cast<std::uint8_t>(word >> (8 * byte)));
            word = 0;
            nibbles = 0;
        }
    };
    const auto putCode = [&](std::uint32_t value) {
        do {
            putNibble((value & 7) | (value > 7 ? 8 : 0));
            value >>= 3;
        } while (value);
    };
    std::int32_t previous = 0;
    for (std::size_t at = 0; at < depths.size();) {
        std::size_t zeros = 0, nonZeros = 0;
        while (at + zeros < depths.size() && depths[at + zeros] == 0)
            ++zeros;
        at += zeros;
        while (at + nonZeros < depths.size() && depths[at + nonZeros] != 0)
            ++nonZeros;
        putCode(static_cast<std::uint32_t>(zeros));
        putCode(static_cast<std::uint32_t>(nonZeros));
        for (; nonZeros > 0; --nonZeros, ++at) {
            const std::int32_t delta = depths[at] - previous;
            putCode(static_cast<std::uint32_t>(delta < 0 ? -2 * delta - 1 : 2 * delta));
            previous = depths[at];
        }
    }
    while (nibbles != 0)
        putNibble(0);
    return out;
}

// A camera's view of a floor sloping away, a plate with a lattice of holes, depth noise, lost
// pixels singly and in patches, and no depth outside 0.5 to 3.86 m.
Depths roomFrame(unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 2.0);
    Depths depths(std::size_t{kWidth} * kHeight);
    for (std::uint32_t row = 0; row < kHeight; ++row)
        for (std::uint32_t column = 0; column < kWidth; ++column) {
            double mm = 7000.0 - 9.0 * row + 0.4 * column;
            const bool onPlate = row > 200 && row < 360 && column > 220 && column < 420;
            const bool inHole = (row % 24 < 8) && (column % 24 < 8);
            if (onPlate && !inHole)
                mm = 1400.0 + 0.8 * (column - 220.0);
            mm += noise(rng);
            const bool lost = rng() % 50 == 0 || (row / 40 + column / 70) % 9 == 0;
            const bool outOfRange = mm < 500.0 || mm > 3860.0;
            depths[std::size_t{row} * kWidth + column] = lost || outOfRange ? 0 : static_cast<std::uint16_t>(mm);
        }
    return depths;
}

// Depths that the vector paths split at awkward places: every length around the block sizes,
// differences of every code length, both ends of the range.
std::vector<Depths> awkwardFrames()
{
    std::vector<Depths> frames = {{}, {1}, {0}, {kMaxMm}, {kMaxMm, 0}, {0, kMaxMm, 1, kMaxMm, 0, 1}};
    std::mt19937 rng(11);
    for (std::size_t length : {7u, 8u, 9u, 15u, 16u, 17u, 31u, 33u, 63u, 65u, 100u, 1000u}) {
        Depths smooth(length), steps(length), noise(length), edges(length), holes(length);
        std::uint16_t level = 2000;
        for (std::size_t k = 0; k < length; ++k) {
            smooth[k] = static_cast<std::uint16_t>(level += static_cast<std::uint16_t>(rng() % 7 - 3));
            steps[k] = static_cast<std::uint16_t>(1000 + (rng() % 5 == 0 ? rng() % 4000 : k % 3));
            noise[k] = static_cast<std::uint16_t>(rng());
            edges[k] = k % 3 == 0 ? kMaxMm : static_cast<std::uint16_t>(1 + k % 2);
            holes[k] = rng() % 4 == 0 ? 0 : static_cast<std::uint16_t>(3000 + rng() % 40);
        }
        frames.insert(frames.end(), {smooth, steps, noise, edges, holes, Depths(length, 0), Depths(length, kMaxMm)});
    }
    return frames;
}

TEST(RvlCodec, WritesTheStreamsWorkedOutByHand)
{
    // Nibbles, first to last, and the little-endian bytes of their words:
    const struct {
        Depths depths;
        Bytes bytes;
    } cases[] = {
        {{}, {}},
        // 2 zeros, 2 non-zeros, 5 -> 10 = (8|2, 1), 7 - 5 -> 4, 1 zero, 0 non-zeros: 2 2 A 1 4 1 0 (0)
        {{0, 0, 5, 7, 0}, {0x00, 0x41, 0xA1, 0x22}},
        // 0, 1, 65535 -> 131070 = groups 6 7 7 7 7 3: 0 1 E F F F F 3
        {{kMaxMm}, {0xF3, 0xFF, 0xEF, 0x01}},
        // ... then 1 zero, 0 non-zeros in a second word: 1 0 (0 0 0 0 0 0)
        {{kMaxMm, 0}, {0xF3, 0xFF, 0xEF, 0x01, 0x00, 0x00, 0x00, 0x10}},
        // 0, 2, 3 -> 6, 1 - 3 -> 3: 0 2 6 3 (0 0 0 0)
        {{3, 1}, {0x00, 0x00, 0x63, 0x02}},
        // 9 zeros = (8|1, 1), 0 non-zeros: 9 1 0 (0 0 0 0 0)
        {{0, 0, 0, 0, 0, 0, 0, 0, 0}, {0x00, 0x00, 0x00, 0x91}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encodeRvl(c.depths.data(), c.depths.size()), c.bytes);
        Depths decoded(c.depths.size());
        EXPECT_TRUE(decodeRvl(c.bytes.data(), c.bytes.size(), decoded.data(), decoded.size()));
        EXPECT_EQ(decoded, c.depths);
    }
}

// Each of the codec's kernels that this processor has, the plain one always among them.
template <typename Check>
void forEachKernel(Check check)
{
    using tavorin::RvlKernels;
    for (const RvlKernels kernels : {RvlKernels::Avx512, RvlKernels::Avx2, RvlKernels::Plain}) {
        if (tavorin::limitRvlKernels(kernels) == kernels) {
            SCOPED_TRACE(static_cast<int>(kernels));
            check();
        }
    }
    tavorin::limitRvlKernels(RvlKernels::Avx512);
}

TEST(RvlCodec, CodesEveryFrameAsTheReferenceWriterAndDecodesItBack)
{
    std::vector<Depths> frames = awkwardFrames();
    frames.push_back(roomFrame(1));
    frames.push_back(roomFrame(2));
    forEachKernel([&] {
        for (const Depths& depths : frames) {
            const Bytes stream = encodeRvl(depths.data(), depths.size());
            ASSERT_EQ(stream, referenceRvl(depths)) << depths.size() << " depths";
            Depths decoded(depths.size() + 1, 7); // one more, which must stay
            ASSERT_TRUE(decodeRvl(stream.data(), stream.size(), decoded.data(), depths.size()));
            EXPECT_EQ(decoded.back(), 7);
            decoded.pop_back();
            EXPECT_EQ(decoded, depths);
        }
    });
}

TEST(RvlCodec, RefusesStreamsThatEndEarlyOrRunPastTheFrame)
{
    const Depths room = roomFrame(4);
    const Bytes whole = encodeRvl(room.data(), room.size());
    const struct {
        const char* what;
        Bytes bytes;
        std::size_t pixels;
    } cases[] = {
        {"nothing", {}, 1},
        {"a frame cut by a word", Bytes(whole.begin(), whole.end() - 4), room.size()},
        {"a frame cut inside its last word", Bytes(whole.begin(), whole.end() - 1), room.size()},
        {"10 zeros of 5 pixels", {0x00, 0x00, 0x00, 0xA1}, 5},   // A 1: 10 = 2 + 8 * 1
        {"4 non-zeros of 3 pixels", {0x00, 0x00, 0x00, 0x04}, 3}, // 0 4
        {"a code of 12 groups", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 1},
        // 9 8 8 8 8 8 8 8 8 8 4, then 0: 2^32 + 1 zeros, which 32 bits would take for 1.
        {"a code above 32 bits", {0x88, 0x88, 0x88, 0x98, 0x00, 0x00, 0x40, 0x88}, 1},
    };
    forEachKernel([&] {
        for (const auto& c : cases) {
            Depths decoded(c.pixels + 16, 7);
            EXPECT_FALSE(decodeRvl(c.bytes.data(), c.bytes.size(), decoded.data(), c.pixels)) << c.what;
            EXPECT_TRUE(std::all_of(decoded.begin() + static_cast<std::ptrdiff_t>(c.pixels), decoded.end(),
                                    [](std::uint16_t d) { return d == 7; }))
                << c.what << " wrote past its pixels";
        }
    });
}

void appendChunk(Bytes& png, const char* type, const Bytes& data)
{
    const auto putBigEndian = [&](std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            png.push_back(static_cast<std::uint8_t>(value >> shift));
    };
    putBigEndian(static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    std::uint32_t crc = 0xFFFFFFFFu; // over type and data, reflected polynomial 0xEDB88320
    for (std::size_t at = typeAt; at < png.size(); ++at) {
        crc ^= png[at];
        for (int bit = 0; bit < 8; ++bit)
            crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    putBigEndian(~crc);
}

// A PNG of the given kind whose image data is empty: signature, IHDR, an empty IDAT, IEND.
Bytes pngWithoutImage(std::uint32_t width, std::uint32_t height, std::uint8_t bitDepth, std::uint8_t colourType)
{
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes header;
    for (std::uint32_t side : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            header.push_back(static_cast<std::uint8_t>(side >> shift));
    header.insert(header.end(), {bitDepth, colourType, 0, 0, 0});
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", {});
    appendChunk(png, "IEND", {});
    return png;
}

Bytes message(const Bytes& image)
{
    Bytes data;
    data.reserve(12 + image.size());
    data.resize(12, 0);
    data.insert(data.end(), image.begin(), image.end());
    return data;
}

Bytes rvlMessage(std::uint32_t width, std::uint32_t height, const Bytes& stream)
{
    Bytes image;
    for (std::uint32_t side : {width, height})
        for (int shift = 0; shift < 32; shift += 8)
            image.push_back(static_cast<std::uint8_t>(side >> shift));
    image.insert(image.end(), stream.begin(), stream.end());
    return message(image);
}

TEST(CompressedDepth, DecodesWhatRosFormatsHold)
{
    const Depths room = roomFrame(5);
    const Bytes rvl = encodeCompressedDepthRvl(room.data(), kWidth, kHeight);
    const Bytes png = encodeCompressedDepthPng(room.data(), kWidth, kHeight);
    // ROS's header for 16UC1, then columns and rows, little-endian.
    EXPECT_EQ(Bytes(rvl.begin(), rvl.begin() + 20),
              Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x02, 0, 0, 0x40, 0x02, 0, 0}));
    // A 16-bit grey PNG after the same header: its signature and IHDR.
    constexpr std::ptrdiff_t kThroughIhdr = 12 + 8 + 25;
    const Bytes expected = message(pngWithoutImage(kWidth, kHeight, 16, 0));
    EXPECT_EQ(Bytes(png.begin(), png.begin() + kThroughIhdr),
              Bytes(expected.begin(), expected.begin() + kThroughIhdr));
    const struct {
        const char* format;
        const Bytes& data;
    } cases[] = {
        {"16UC1; compressedDepth rvl", rvl},
        {"16UC1; compressedDepth png", png},
        {"16UC1; compressedDepth", png}, // older publishers
        {"mono16; compressedDepth png", png},
    };
    DecodedDepth out;
    for (const auto& c : cases) {
        EXPECT_EQ(decodeCompressedDepth(c.format, c.data.data(), c.data.size(), kMaxSide, out), "") << c.format;
        EXPECT_EQ(out.width, kWidth);
        EXPECT_EQ(out.height, kHeight);
        EXPECT_EQ(out.depthMm, room) << c.format;
    }
}

TEST(CompressedDepth, RefusesWithTheReason)
{
    const Depths room = roomFrame(6);
    const Bytes rvl = encodeCompressedDepthRvl(room.data(), kWidth, kHeight);
    const Bytes png = encodeCompressedDepthPng(room.data(), kWidth, kHeight);
    const std::string rvlFormat = "16UC1; compressedDepth rvl";
    const std::string pngFormat = "16UC1; compressedDepth png";
    const struct {
        std::string format;
        Bytes data;
        std::string reason;
    } cases[] = {
        {"32FC1; compressedDepth rvl", rvl, "carries 32FC1 depth quantised as inverse depth, which is not decoded"},
        {"rgb8; compressedDepth png", png, "\"rgb8; compressedDepth png\" is not 16UC1 or mono16 in rvl or png"},
        {"16UC1; compressedDepth jpeg", png, "is not 16UC1 or mono16 in rvl or png"},
        {"16UC1; compressed", png, "is not 16UC1 or mono16 in rvl or png"},
        {"16UC1\n; compressedDepth rvl", rvl, "\"16UC1?; compressedDepth rvl\" is not 16UC1"},
        {rvlFormat, Bytes(12, 0), "compressedDepth message of 12 bytes has no image after its 12-byte header"},
        {rvlFormat, Bytes(rvl.begin(), rvl.begin() + 17), "RVL image ends inside its size (5 of 8 bytes)"},
        {rvlFormat, rvlMessage(0, kHeight, {}), "RVL image of 0 x 576 pixels"},
        {rvlFormat, rvlMessage(100000, 100000, {}),
         "RVL image declares 100000 x 100000 pixels, more than 4096 a side"},
        {rvlFormat, Bytes(rvl.begin(), rvl.end() - 8), "does not hold 640 x 576 depths"},
        {rvlFormat, rvlMessage(kWidth + 1, kHeight, Bytes(rvl.begin() + 20, rvl.end())), "does not hold 641 x 576"},
        {pngFormat, message(Bytes(100, 0x5A)), "its image is not a PNG"},
        {pngFormat, Bytes(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2)),
         "PNG stream ends early"},
        {pngFormat, Bytes(png.begin(), png.begin() + 30), "PNG stream ends early"},
        {pngFormat, message(pngWithoutImage(kWidth, kHeight, 8, 0)), "its PNG is 8-bit"},
        {pngFormat, message(pngWithoutImage(kWidth, kHeight, 16, 2)), "its PNG is not grey (colour type 2)"},
        {pngFormat, message(pngWithoutImage(100000, 100000, 16, 0)),
         "PNG declares 100000 x 100000 pixels, more than 4096 a side"},
        {pngFormat, message(pngWithoutImage(kWidth, kHeight, 16, 7)), "its PNG is damaged: "},
        {pngFormat, message(pngWithoutImage(kWidth, kHeight, 16, 0)), "its PNG is damaged: "},
    };
    for (const auto& c : cases) {
        DecodedDepth out{kWidth, kHeight, room};
        const std::string reason = decodeCompressedDepth(c.format, c.data.data(), c.data.size(), kMaxSide, out);
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos);
        EXPECT_TRUE(out.width == 0 && out.height == 0 && out.depthMm.empty()) << reason;
    }
}

// Random bytes, and valid messages with bytes flipped or cut off, must come back refused or
// decoded, never crash, hang or write out of bounds (the sanitizer builds watch the latter).
TEST(CompressedDepth, SurvivesHostileBytes)
{
    constexpr std::uint32_t kSide = 48; // a patch of the plate, to keep the PNG trials quick
    const Depths room = roomFrame(7);
    Depths patch;
    for (std::uint32_t row = 220; row < 220 + kSide; ++row)
        patch.insert(patch.end(), room.begin() + row * kWidth + 240, room.begin() + row * kWidth + 240 + kSide);
    const Bytes valid[] = {encodeCompressedDepthRvl(patch.data(), kSide, kSide),
                           encodeCompressedDepthPng(patch.data(), kSide, kSide)};
    const char* formats[] = {"16UC1; compressedDepth rvl", "16UC1; compressedDepth png"};
    std::mt19937 rng(13);
    DecodedDepth out;
    for (int trial = 0; trial < 4000; ++trial) {
        const int kind = trial % 2; // RVL, PNG
        Bytes data(rng() % 400);
        std::generate(data.begin(), data.end(), [&] { return static_cast<std::uint8_t>(rng()); });
        if (trial % 4 == 0) {
            data = rvlMessage(kSide, kSide, data); // random codes for an image of a plausible size
        } else if (trial % 4 != 1) {
            data = valid[kind];
            for (int flip = 0; flip < 4; ++flip)
                data[12 + rng() % (data.size() - 12)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
            data.resize(12 + rng() % (data.size() - 12));
        }
        const std::string reason = decodeCompressedDepth(formats[kind], data.data(), data.size(), kMaxSide, out);
        EXPECT_EQ(out.depthMm.size(), std::size_t{out.width} * out.height);
        EXPECT_EQ(reason.empty(), out.width != 0);
    }
}

} // namespace
