// Virtual devices for the capture tests.
#pragma once

#include <k4a_virtual/VirtualDevice.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

namespace capture_test {

// A real device's factory blob; its depth camera in NFOV unbinned has cx 332.781067,
// cy 348.829712, fx 504.607635, fy 504.732513.
inline const std::string& realBlob()
{
    static const std::string blob = [] {
        std::ifstream in(TAVORIN_SOURCE_DIR "/tests/fixtures/azure_kinect_raw_calibration_001514394512.json",
                         std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return blob;
}

// Depth d(column, row) = 1000 + 7 column + 3 row mm, with 0 wherever (column + row) % 11 == 0;
// colour one B, G, R, A value everywhere.
class PatternSource : public k4a_virtual::FrameSource {
public:
    static std::uint16_t depthAt(int column, int row)
    {
        return (column + row) % 11 == 0 ? 0 : static_cast<std::uint16_t>(1000 + 7 * column + 3 * row);
    }
    static constexpr std::uint8_t kColor[4] = {10, 20, 30, 255};

    void render(const k4a_calibration_t&, std::uint64_t, const k4a_virtual::FrameBuffers& frame) override
    {
        for (int r = 0; r < frame.depthHeight; ++r)
            for (int c = 0; c < frame.depthWidth; ++c)
                frame.depthMm[r * frame.depthWidth + c] = depthAt(c, r);
        for (int k = 0; k < frame.colorWidth * frame.colorHeight; ++k)
            for (int channel = 0; channel < 4; ++channel)
                frame.bgra[4 * k + channel] = kColor[channel];
    }
};

inline std::shared_ptr<k4a_virtual::VirtualDevice> makeDevice(const std::string& serial)
{
    return std::make_shared<k4a_virtual::VirtualDevice>(serial, realBlob(), std::make_shared<PatternSource>());
}

inline std::shared_ptr<k4a_virtual::VirtualDevice> plugInDevice(const std::string& serial)
{
    auto device = makeDevice(serial);
    k4a_virtual::plugIn(device);
    return device;
}

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// The sanitizer runs: a virtual device's frame took 1.5 to 3 s under ThreadSanitizer on a busy
// two-core host (30 per second without it).
constexpr int kSanitizerSlowdown = 10;
#else
constexpr int kSanitizerSlowdown = 1;
#endif

// Polls `condition` for up to 20 s, or as much longer as a sanitizer build is slower.
inline bool eventually(const std::function<bool()>& condition)
{
    constexpr auto kLimit = std::chrono::seconds(20) * kSanitizerSlowdown;
    constexpr auto kPoll = std::chrono::milliseconds(5);
    const auto end = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(kPoll);
    }
    return condition();
}

inline int countOf(const std::string& text, const std::string& line)
{
    int count = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + line.size()))
        ++count;
    return count;
}

// Leaves the registry empty before and after every test.
class VirtualDevices : public ::testing::Test {
protected:
    void SetUp() override { k4a_virtual::unplugAll(); }
    void TearDown() override { k4a_virtual::unplugAll(); }
};

} // namespace capture_test
