#include "network/codec/CompressedDepth.h"

#include "network/codec/RvlCodec.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <sstream>

namespace tavorin {

namespace {

constexpr std::size_t kConfigHeaderBytes = 12; // int32 format, float32 depthParam[2]
constexpr std::int32_t kInverseDepthFormat = 0; // ROS's INV_DEPTH, written for 16UC1 too
constexpr std::size_t kRvlSizeBytes = 8;        // uint32 columns, uint32 rows
constexpr std::size_t kPngSignatureBytes = 8;
constexpr int kPngBitDepth = 16;
constexpr int kPngCompressionLevel = 3;

enum class Codec { Rvl, Png, Unknown };

// The codec named after the format's first ';', as ROS's decoder reads it.
Codec codecOf(const std::string& format)
{
    const std::size_t split = format.find(';');
    if (split == std::string::npos)
        return Codec::Png;
    const std::string ending = format.substr(split);
    if (ending.find("compressedDepth png") != std::string::npos)
        return Codec::Png;
    if (ending.find("compressedDepth rvl") != std::string::npos)
        return Codec::Rvl;
    if (ending.find("compressedDepth") != std::string::npos && ending.find("compressedDepth ") == std::string::npos)
        return Codec::Png;
    return Codec::Unknown;
}

// The format as a reason quotes it: printable characters only, at most 60 of them.
std::string quoted(const std::string& format)
{
    constexpr std::size_t kMaxShown = 60;
    std::string shown = "\"";
    for (std::size_t at = 0; at < format.size() && at < kMaxShown; ++at)
        shown += format[at] >= ' ' && format[at] <= '~' ? format[at] : '?';
    return shown + (format.size() > kMaxShown ? "...\"" : "\"");
}

void putLittleEndian32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int byte = 0; byte < 4; ++byte)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * byte)));
}

std::uint32_t littleEndian32(const std::uint8_t* bytes)
{
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16
        | std::uint32_t{bytes[3]} << 24;
}

// The configuration header as ROS writes it for 16UC1 depth: format INV_DEPTH, and the two
// quantisation parameters, which ROS leaves unset for 16UC1, as 0.0f.
std::vector<std::uint8_t> configHeader()
{
    std::vector<std::uint8_t> out;
    out.reserve(kConfigHeaderBytes);
    putLittleEndian32(out, static_cast<std::uint32_t>(kInverseDepthFormat));
    putLittleEndian32(out, 0); // 0.0f
    putLittleEndian32(out, 0);
    return out;
}

// Empty when a side is 1 to maxSide, else why not; `what` names the image ("RVL image", "PNG").
std::string sizeFault(const char* what, std::uint32_t width, std::uint32_t height, std::uint32_t maxSide)
{
    std::ostringstream fault;
    if (width == 0 || height == 0)
        fault << what << " of " << width << " x " << height << " pixels";
    else if (width > maxSide || height > maxSide)
        fault << what << " declares " << width << " x " << height << " pixels, more than " << maxSide << " a side";
    return fault.str();
}

void resize(DecodedDepth& out, std::uint32_t width, std::uint32_t height)
{
    out.width = width;
    out.height = height;
    out.depthMm.resize(std::size_t{width} * height);
}

std::string decodeRvlImage(const std::uint8_t* data, std::size_t size, std::uint32_t maxSide, DecodedDepth& out)
{
    if (size < kRvlSizeBytes)
        return "RVL image ends inside its size (" + std::to_string(size) + " of 8 bytes)";
    const std::uint32_t width = littleEndian32(data);
    const std::uint32_t height = littleEndian32(data + 4);
    const std::string fault = sizeFault("RVL image", width, height, maxSide);
    if (!fault.empty())
        return fault;
    resize(out, width, height);
    if (!decodeRvl(data + kRvlSizeBytes, size - kRvlSizeBytes, out.depthMm.data(), out.depthMm.size())) {
        std::ostringstream why;
        why << "RVL stream of " << size - kRvlSizeBytes << " bytes does not hold " << width << " x " << height
            << " depths";
        return why.str();
    }
    return {};
}

// ---- PNG through libpng, whose errors longjmp back to the function that called setjmp. That
// function holds no object with a destructor, and what outlives a jump lives in its caller.

constexpr std::size_t kPngMessageBytes = 200;

struct PngRead {
    PngRead(const std::uint8_t* data_, std::size_t size_) : data(data_), size(size_) {}

    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    bool endedEarly = false;
    char message[kPngMessageBytes] = {};
    std::string fault; // a refusal of ours, set without a jump
};

void readFromMemory(png_structp png, png_bytep bytes, std::size_t length)
{
    auto* read = static_cast<PngRead*>(png_get_io_ptr(png));
    if (read->size - read->at < length) {
        read->endedEarly = true;
        png_error(png, "ends early");
    }
    std::memcpy(bytes, read->data + read->at, length);
    read->at += length;
}

// Error and warning handlers of both directions; the error pointer is a char[kPngMessageBytes].
void keepMessageAndJump(png_structp png, png_const_charp message)
{
    std::snprintf(static_cast<char*>(png_get_error_ptr(png)), kPngMessageBytes, "%s", message);
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// Reads the PNG into `out`; false after a libpng error (the message in read.message) or with
// read.fault set.
bool readPng(png_structp png, png_infop info, std::uint32_t maxSide, PngRead& read, DecodedDepth& out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, &read, readFromMemory);
    // Sides are ours to refuse, with our own words; libpng's own limit is 10^6.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int bitDepth = 0, colourType = 0;
    png_get_IHDR(png, info, &width, &height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
    if (colourType != PNG_COLOR_TYPE_GRAY) {
        read.fault = "its PNG is not grey (colour type " + std::to_string(colourType) + ")";
        return false;
    }
    if (bitDepth != kPngBitDepth) {
        read.fault = "its PNG is " + std::to_string(bitDepth) + "-bit";
        return false;
    }
    read.fault = sizeFault("PNG", width, height, maxSide);
    if (!read.fault.empty())
        return false;
    resize(out, width, height);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    auto* rows = reinterpret_cast<png_bytep>(out.depthMm.data());
    const std::size_t rowBytes = std::size_t{width} * sizeof(std::uint16_t);
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 row = 0; row < height; ++row)
            png_read_row(png, rows + row * rowBytes, nullptr);
    return true;
}

// PNG keeps 16-bit samples big-endian.
void bigEndianToHost(std::vector<std::uint16_t>& samples)
{
    for (std::uint16_t& sample : samples) {
        unsigned char bytes[2];
        std::memcpy(bytes, &sample, 2);
        sample = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
    }
}

// Owns libpng's reader and its info.
struct PngReader {
    explicit PngReader(char* message)
        : png(png_create_read_struct(PNG_LIBPNG_VER_STRING, message, keepMessageAndJump, ignoreWarning)),
          info(png ? png_create_info_struct(png) : nullptr)
    {
    }
    ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    png_structp png;
    png_infop info;
};

std::string decodePngImage(const std::uint8_t* data, std::size_t size, std::uint32_t maxSide, DecodedDepth& out)
{
    if (size < kPngSignatureBytes || png_sig_cmp(data, 0, kPngSignatureBytes) != 0)
        return "its image is not a PNG";
    PngRead read(data, size);
    const PngReader reader(read.message);
    if (!reader.info)
        return "libpng has no memory for a reader";
    const bool complete = readPng(reader.png, reader.info, maxSide, read, out);
    if (!read.fault.empty())
        return read.fault;
    if (read.endedEarly)
        return "PNG stream ends early";
    if (!complete)
        return std::string("its PNG is damaged: ") + read.message;
    bigEndianToHost(out.depthMm);
    return {};
}

struct PngWrite {
    PngWrite(std::vector<std::uint8_t>& out_, std::uint32_t width) : out(out_), row(std::size_t{width} * 2) {}

    std::vector<std::uint8_t>& out;
    std::vector<png_byte> row; // one row of big-endian samples
    char message[kPngMessageBytes] = {};
};

// Owns libpng's writer and its info.
struct PngWriter {
    explicit PngWriter(char* message)
        : png(png_create_write_struct(PNG_LIBPNG_VER_STRING, message, keepMessageAndJump, ignoreWarning)),
          info(png ? png_create_info_struct(png) : nullptr)
    {
    }
    ~PngWriter() { png_destroy_write_struct(&png, &info); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    png_structp png;
    png_infop info;
};

void appendToVector(png_structp png, png_bytep bytes, std::size_t length)
{
    auto* write = static_cast<PngWrite*>(png_get_io_ptr(png));
    bool grown = true;
    try {
        write->out.insert(write->out.end(), bytes, bytes + length);
    } catch (const std::bad_alloc&) {
        grown = false;
    }
    if (!grown)
        png_error(png, "out of memory");
}

void flushNothing(png_structp) {}

bool writePng(png_structp png, png_infop info, const std::uint16_t* depthMm, std::uint32_t width,
              std::uint32_t height, PngWrite& write)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, &write, appendToVector, flushNothing);
    png_set_IHDR(png, info, width, height, kPngBitDepth, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, kPngCompressionLevel);
    png_write_info(png, info);
    for (std::uint32_t row = 0; row < height; ++row) {
        const std::uint16_t* depths = depthMm + std::size_t{row} * width;
        for (std::uint32_t column = 0; column < width; ++column) {
            write.row[2 * column] = static_cast<png_byte>(depths[column] >> 8);
            write.row[2 * column + 1] = static_cast<png_byte>(depths[column] & 0xFF);
        }
        png_write_row(png, write.row.data());
    }
    png_write_end(png, nullptr);
    return true;
}

} // namespace

std::string decodeCompressedDepth(const std::string& format, const std::uint8_t* data, std::size_t size,
                                  std::uint32_t maxSide, DecodedDepth& out)
{
    const std::string encoding = format.substr(0, format.find(';'));
    const Codec codec = codecOf(format);
    std::string fault;
    if (encoding == "32FC1" && codec != Codec::Unknown)
        fault = "compressedDepth format " + quoted(format)
            + " carries 32FC1 depth quantised as inverse depth, which is not decoded";
    else if ((encoding != "16UC1" && encoding != "mono16") || codec == Codec::Unknown)
        fault = "compressedDepth format " + quoted(format) + " is not 16UC1 or mono16 in rvl or png";
    else if (size <= kConfigHeaderBytes)
        fault = "compressedDepth message of " + std::to_string(size) + " bytes has no image after its 12-byte header";
    else if (codec == Codec::Rvl)
        fault = decodeRvlImage(data + kConfigHeaderBytes, size - kConfigHeaderBytes, maxSide, out);
    else
        fault = decodePngImage(data + kConfigHeaderBytes, size - kConfigHeaderBytes, maxSide, out);
    if (!fault.empty()) {
        out.width = out.height = 0;
        out.depthMm.clear();
    }
    return fault;
}

std::vector<std::uint8_t> encodeCompressedDepthRvl(const std::uint16_t* depthMm, std::uint32_t width,
                                                   std::uint32_t height)
{
    std::vector<std::uint8_t> out = configHeader();
    putLittleEndian32(out, width);
    putLittleEndian32(out, height);
    const std::vector<std::uint8_t> stream = encodeRvl(depthMm, std::size_t{width} * height);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

std::vector<std::uint8_t> encodeCompressedDepthPng(const std::uint16_t* depthMm, std::uint32_t width,
                                                   std::uint32_t height)
{
    std::vector<std::uint8_t> out = configHeader();
    PngWrite write(out, width);
    const PngWriter writer(write.message);
    if (!writer.info || !writePng(writer.png, writer.info, depthMm, width, height, write))
        out.clear();
    return out;
}

} // namespace tavorin
