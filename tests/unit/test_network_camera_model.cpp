// The lens model of network cameras and their depth images: every pixel's ray against the forward
// model, the refusals of camera infos and depth images, and the conversion to millimetres.
#include "network/ros/CameraInfoModel.h"
#include "network/ros/DepthImageMessage.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <utility>
#include <vector>

using tavorin::CameraInfoFields;

namespace {

constexpr std::uint32_t kMaxSide = 4096;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Depth camera of the Azure Kinect in NFOV unbinned mode; d = (k1, k2, p1, p2, k3, k4, k5, k6).
CameraInfoFields azureKinectNfov()
{
    return tavorin::rationalPolynomialInfo(640, 576, 504.6, 504.7, 332.8, 348.8,
                                           {0.548, -0.021, 2.1e-05, -7.2e-05, -0.0027, 0.890, 0.086, -0.014});
}

// A VGA camera with d = (k1, k2, p1, p2, k3).
CameraInfoFields plumbBob(std::vector<double> d)
{
    CameraInfoFields info = tavorin::rationalPolynomialInfo(640, 480, 525.0, 525.5, 319.5, 239.5, {});
    info.distortionModel = "plumb_bob";
    info.d = std::move(d);
    return info;
}

// `fault` holds `part`; an empty `part` stands for no fault.
void expectFault(const char* part, const std::string& fault, const std::string& name)
{
    if (*part == '\0')
        EXPECT_EQ("", fault) << name;
    else
        EXPECT_NE(std::string::npos, fault.find(part)) << name << ": " << fault;
}

struct LensCase {
    const char* name;
    CameraInfoFields info;
    double reach;  // distorted normalised radius up to which pixels have rays
    bool pinhole;  // no distortion: the rays are ((u - cx) / fx, (v - cy) / fy) exactly
};

// OpenCV's rational lens model as its documentation writes it, plumb_bob's k4 = k5 = k6 = 0.
std::array<double, 2> opencvPixel(const CameraInfoFields& info, double x, double y)
{
    const auto d = [&info](std::size_t i) { return i < info.d.size() ? info.d[i] : 0.0; };
    const double r2 = x * x + y * y, r4 = r2 * r2, r6 = r4 * r2;
    const double radial = (1 + d(0) * r2 + d(1) * r4 + d(4) * r6) / (1 + d(5) * r2 + d(6) * r4 + d(7) * r6);
    const double xd = x * radial + 2 * d(2) * x * y + d(3) * (r2 + 2 * x * x);
    const double yd = y * radial + d(2) * (r2 + 2 * y * y) + 2 * d(3) * x * y;
    return {info.k[0] * xd + info.k[2], info.k[4] * yd + info.k[5]};
}

// Whether pixel (column, row) has the right ray (x, y): NaN beyond the lens's reach (a band around
// it left open), else one that OpenCV's model and projectToPixel both project back onto the pixel.
bool rightRay(const LensCase& lens, std::uint32_t column, std::uint32_t row, double x, double y)
{
    constexpr double kTolerancePx = 1e-6;
    constexpr double kBoundaryBand = 1e-3;
    const std::array<double, 9>& k = lens.info.k;
    const double xd = (column - k[2]) / k[0], yd = (row - k[5]) / k[4];
    const double radius = std::hypot(xd, yd);
    if (std::abs(radius - lens.reach) < kBoundaryBand)
        return true;
    if (radius > lens.reach)
        return std::isnan(x) && std::isnan(y);
    const std::array<double, 2> pixel = opencvPixel(lens.info, x, y);
    double u = kNaN, v = kNaN;
    return std::abs(pixel[0] - column) <= kTolerancePx && std::abs(pixel[1] - row) <= kTolerancePx
        && tavorin::projectToPixel(lens.info, x, y, u, v) && std::abs(u - column) <= kTolerancePx
        && std::abs(v - row) <= kTolerancePx && (!lens.pinhole || (x == xd && y == yd));
}

// Every pixel of each lens, the float table being the double one rounded. The folding lens, r - 0.5 r³
// + 0.1 r⁵, turns at r = 1, where it reaches 0.6, and again at r² = 2: the pixels beyond 0.6 (the
// corners) meet only rays from beyond the fold, outside the valid region.
TEST(NetworkCameraModel, RaysProjectBackOntoTheirPixels)
{
    const LensCase cases[] = {
        {"Azure Kinect NFOV", azureKinectNfov(), kInf, false},
        {"plumb_bob", plumbBob({-0.28, 0.07, 1e-4, -2e-4, 0.0}), kInf, false},
        {"folding", plumbBob({-0.5, 0.1, 0.0, 0.0, 0.0}), 0.6, false},
        {"no distortion", tavorin::rationalPolynomialInfo(640, 576, 504.6, 504.7, 332.8, 348.8, {}), kInf, true},
    };
    for (const LensCase& lens : cases) {
        ASSERT_EQ("", tavorin::cameraInfoFault(lens.info, kMaxSide)) << lens.name;
        const std::vector<double> rays = tavorin::unitDepthRaysDouble(lens.info);
        const std::vector<float> floats = tavorin::unitDepthRays(lens.info);
        ASSERT_EQ(2u * lens.info.width * lens.info.height, rays.size()) << lens.name;
        ASSERT_EQ(rays.size(), floats.size()) << lens.name;
        std::size_t wrong = 0;
        for (std::uint32_t row = 0; row < lens.info.height; ++row)
            for (std::uint32_t column = 0; column < lens.info.width; ++column) {
                const std::size_t at = 2 * (std::size_t(row) * lens.info.width + column);
                const double x = rays[at], y = rays[at + 1];
                const bool rounded = std::isnan(x) ? std::isnan(floats[at]) && std::isnan(floats[at + 1])
                                                   : floats[at] == float(x) && floats[at + 1] == float(y);
                wrong += rounded && rightRay(lens, column, row, x, y) ? 0 : 1;
            }
        EXPECT_EQ(0u, wrong) << lens.name << ": pixels with a wrong ray";
    }
}

TEST(NetworkCameraModel, RefusesUnusableCameraInfos)
{
    struct Case {
        const char* name;
        void (*change)(CameraInfoFields&);
        const char* fault;
    };
    const Case cases[] = {
        {"Azure Kinect", [](CameraInfoFields&) {}, ""},
        {"plumb_bob", [](CameraInfoFields& i) { i.distortionModel = "plumb_bob", i.d.resize(5); }, ""},
        {"zero thin-prism and tilt terms", [](CameraInfoFields& i) { i.d.resize(14, 0.0); }, ""},
        {"too many rows", [](CameraInfoFields& i) { i.height = kMaxSide + 1; }, "each side must be 1 to 4096"},
        {"NaN in K", [](CameraInfoFields& i) { i.k[2] = kNaN; }, "K has a non-finite entry"},
        {"uncalibrated K", [](CameraInfoFields& i) { i.k = {}; }, "not both positive"},
        {"skew", [](CameraInfoFields& i) { i.k[1] = 0.5; }, "not of the pinhole form"},
        {"cx far right", [](CameraInfoFields& i) { i.k[2] = 961.0; }, "lies far outside"},
        {"cy far above", [](CameraInfoFields& i) { i.k[5] = -289.0; }, "lies far outside"},
        {"equidistant", [](CameraInfoFields& i) { i.distortionModel = "equidistant", i.d.resize(4); },
         "unknown distortion model \"equidistant\""},
        {"no model", [](CameraInfoFields& i) { i.distortionModel.clear(); }, "unknown distortion model \"\""},
        {"short D", [](CameraInfoFields& i) { i.d.resize(5); }, "needs 8 coefficients in D, got 5"},
        {"infinite k4", [](CameraInfoFields& i) { i.d[5] = kInf; }, "D[5] is not finite"},
        {"thin-prism term", [](CameraInfoFields& i) { i.d.resize(12, 0.0), i.d[9] = 0.01; },
         "D[9] is 0.01; rational_polynomial has 8 coefficients"},
    };
    for (const Case& c : cases) {
        CameraInfoFields info = azureKinectNfov();
        c.change(info);
        expectFault(c.fault, tavorin::cameraInfoFault(info, kMaxSide), c.name);
    }
}

TEST(NetworkDepthImage, RefusesUnusableImages)
{
    constexpr std::uint32_t kAll = 0xFFFFFFFFu;
    struct Case {
        std::uint32_t width, height;
        const char* encoding;
        std::uint8_t bigEndian;
        std::uint32_t step;
        std::size_t dataSize;
        std::uint32_t maxSide;
        const char* fault;
    };
    const Case cases[] = {
        {640, 576, "16UC1", 0, 1280, 737280, kMaxSide, ""},
        {640, 576, "32FC1", 0, 2600, 1497600, kMaxSide, ""},
        {0, 576, "16UC1", 0, 0, 0, kMaxSide, "each side must be 1 to 4096"},
        {640, 576, "rgb8", 0, 1920, 1105920, kMaxSide, "encoding \"rgb8\" is no depth encoding"},
        {640, 576, "16UC1", 2, 1280, 737280, kMaxSide, "is_bigendian is 2"},
        {640, 576, "16UC1", 0, 1279, 736704, kMaxSide, "shorter than a row"},
        {640, 576, "16UC1", 0, 1280, 737279, kMaxSide, "not step * height = 737280"},
        // Products that wrap around in 32 bits.
        {kAll, 1, "32FC1", 0, kAll, kAll, kAll, "shorter than a row"},
        {640, 2, "16UC1", 0, 0x80000000u, 0, kMaxSide, "not step * height = 4294967296"},
    };
    for (const Case& c : cases) {
        expectFault(c.fault,
                    tavorin::depthImageFault(c.width, c.height, c.encoding, c.bigEndian, c.step, c.dataSize, c.maxSide),
                    std::string(c.encoding) + " " + std::to_string(c.width) + " x " + std::to_string(c.height));
    }
}

// Lays out `values` (their bytes as unsigned integers of `size` bytes) as an image of `width`
// columns, rows of `step` bytes padded with 0xAB, in the given byte order.
std::vector<std::uint8_t> imageBytes(const std::vector<std::uint32_t>& values, std::size_t size, std::uint32_t width,
                                     std::uint32_t step, bool bigEndian)
{
    std::vector<std::uint8_t> bytes(values.size() / width * step, 0xAB);
    for (std::size_t k = 0; k < values.size(); ++k)
        for (std::size_t b = 0; b < size; ++b)
            bytes[k / width * step + k % width * size + b] =
                std::uint8_t(values[k] >> 8 * (bigEndian ? size - 1 - b : b));
    return bytes;
}

TEST(NetworkDepthImage, ConvertsToMillimetres)
{
    constexpr std::uint32_t kWidth = 3;
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::vector<std::uint16_t> depth16 = {0, 1, 0x1234, 0xFFFF, 0x00FF, 0xFF00};
    const std::vector<std::uint32_t> raw16(depth16.begin(), depth16.end());
    const float metreValues[] = {1.2344f, 0.0006f, 0.0004f,  nan,   -1.0f, inf,
                                 -inf,    65.535f, 65.5356f, 1e30f, -0.0f, 2.0f};
    std::vector<std::uint32_t> metres(std::size(metreValues));
    std::memcpy(metres.data(), metreValues, sizeof metreValues);
    const std::vector<std::uint16_t> metresMm = {1234, 1, 0, 0, 0, 0, 0, 65535, 0, 0, 0, 2000};
    struct Case {
        const char* encoding;
        std::size_t size; // bytes per pixel
        std::uint32_t step;
        bool bigEndian;
    };
    const Case cases[] = {{"16UC1", 2, 6, false}, {"16UC1", 2, 6, true}, {"mono16", 2, 10, false},
                          {"16UC1", 2, 9, true},  {"32FC1", 4, 12, false}, {"32FC1", 4, 15, true}};
    for (const Case& c : cases) {
        const std::vector<std::uint32_t>& values = c.size == 2 ? raw16 : metres;
        const std::vector<std::uint8_t> bytes = imageBytes(values, c.size, kWidth, c.step, c.bigEndian);
        const std::uint32_t height = std::uint32_t(values.size() / kWidth);
        ASSERT_EQ("",
                  tavorin::depthImageFault(kWidth, height, c.encoding, c.bigEndian, c.step, bytes.size(), kMaxSide));
        std::vector<std::uint16_t> depthMm(values.size(), 7);
        tavorin::depthImageToMm(bytes.data(), kWidth, height, c.step, c.encoding, c.bigEndian, depthMm.data());
        EXPECT_EQ(c.size == 2 ? depth16 : metresMm, depthMm)
            << c.encoding << ", step " << c.step << (c.bigEndian ? ", big-endian" : "");
    }
}

} // namespace
