// Calibration quality at a glance: the plate's coverage of a camera's image, the verdict's
// thresholds, and the record kept beside a stored calibration.
#include "calibration/quality/CalibrationQuality.h"
#include "calibration/quality/PlateCoverage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

using tavorin::CalibrationVerdict, tavorin::LatticeDetectionResult, tavorin::PlateCoverage, tavorin::RegistrationProgress,
    tavorin::Vec4;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 576;
constexpr double kFocal = 504.0;

// The point image of a pinhole camera looking at a wall 2 m away; no depth in the left tenth.
std::vector<float> wallImage()
{
    std::vector<float> points(static_cast<std::size_t>(kWidth) * kHeight * 4, 0.0f);
    for (int v = 0; v < kHeight; ++v)
        for (int u = kWidth / 10; u < kWidth; ++u) {
            float* p = points.data() + 4 * (static_cast<std::size_t>(v) * kWidth + u);
            p[2] = 2.0f;
            p[0] = static_cast<float>((u - 320.0) / kFocal * 2.0);
            p[1] = static_cast<float>((v - 288.0) / kFocal * 2.0);
        }
    return points;
}

// A plate whose holes sit at the given pixels, 2 m away.
LatticeDetectionResult plateAtPixels(const std::vector<std::pair<double, double>>& pixels)
{
    LatticeDetectionResult plate;
    plate.found = true;
    for (const auto& [u, v] : pixels)
        plate.holes.push_back(Vec4::point(static_cast<float>((u - 320.0) / kFocal * 2.0),
                                          static_cast<float>((v - 288.0) / kFocal * 2.0), 2.0f));
    return plate;
}

} // namespace

TEST(PlateCoverage, CountsTheCellsTheHolesFallInOncePerFrame)
{
    PlateCoverage coverage;
    EXPECT_FALSE(coverage.fitProjection(nullptr, kWidth, kHeight));
    coverage.add(plateAtPixels({{10, 10}}));
    EXPECT_EQ(0.0, coverage.coveredShare()) << "nothing counts before a projection";
    const std::vector<float> wall = wallImage();
    ASSERT_TRUE(coverage.fitProjection(wall.data(), kWidth, kHeight));
    // Cells are 80 x 96 pixels: (0, 0) top left, (7, 5) bottom right.
    coverage.add(plateAtPixels({{10, 10}, {20, 20}, {630, 570}}));
    coverage.add(plateAtPixels({{100, 10}, {-50, 10}, {700, 300}})); // the last two outside the image
    coverage.add(LatticeDetectionResult{});
    const std::vector<std::uint32_t>& cells = coverage.cells();
    ASSERT_EQ(48u, cells.size());
    EXPECT_EQ(1u, cells[0]) << "two holes of one frame in one cell count once";
    EXPECT_EQ(1u, cells[1]);
    EXPECT_EQ(1u, cells[47]);
    EXPECT_NEAR(3.0 / 48.0, coverage.coveredShare(), 1e-12);
}

// Each verdict, and the line beside it says what keeps the camera from "good".
TEST(CalibrationQuality, VerdictsFollowTheStatedThresholdsAndSayWhatIsMissing)
{
    const auto camera = [](bool calibrated, double rms, double sigmaMm, double sigmaDeg) {
        RegistrationProgress p;
        p.framesFound = 40;
        p.calibrated = calibrated;
        p.rmsMm = rms;
        p.sigmaMm = sigmaMm;
        p.sigmaDeg = sigmaDeg;
        return p;
    };
    RegistrationProgress reference;
    reference.reference = true;
    reference.framesFound = 12;
    RegistrationProgress fewReferenceFrames = reference;
    fewReferenceFrames.framesFound = 9;
    const struct {
        const char* what;
        RegistrationProgress progress;
        double coverage;
        bool estimated;
        CalibrationVerdict verdict;
        const char* missing; // in the line; null: the line names nothing missing
    } cases[] = {
        {"within every threshold", camera(true, 0.9, 0.4, 0.04), 0.3, true, CalibrationVerdict::Good, nullptr},
        {"residual above 1 mm", camera(true, 1.1, 0.4, 0.04), 0.3, true, CalibrationVerdict::Marginal, "; good needs RMS \u2264 1 mm, 1\u03c3 \u2264 0.5 mm and 0.05\u00b0"},
        {"1 sigma above 0.5 mm", camera(true, 0.9, 0.6, 0.04), 0.3, true, CalibrationVerdict::Marginal, "good needs RMS"},
        {"1 sigma above 0.05 degrees", camera(true, 0.9, 0.4, 0.06), 0.3, true, CalibrationVerdict::Marginal, "good needs RMS"},
        {"plate in less than a quarter", camera(true, 0.9, 0.4, 0.04), 0.2, true, CalibrationVerdict::Marginal, "coverage 20 % of 25 %: carry the plate to the dark cells"},
        {"an estimate that does not trust it", camera(false, 0.0, 0.0, 0.0), 0.5, true, CalibrationVerdict::Poor, nullptr},
        {"no estimate yet", camera(false, 0.0, 0.0, 0.0), 0.5, false, CalibrationVerdict::Waiting, nullptr},
        {"reference over a quarter", reference, 0.3, true, CalibrationVerdict::Good, nullptr},
        {"reference over less", reference, 0.1, true, CalibrationVerdict::Marginal, "Reference, coverage 10 % of 25 %: carry the plate to the dark cells"},
        {"reference with too few frames", fewReferenceFrames, 0.9, true, CalibrationVerdict::Waiting, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.verdict, tavorin::calibrationVerdict(c.progress, c.coverage, c.estimated)) << c.what;
        const std::string line = tavorin::qualityLine(c.progress, c.coverage);
        if (c.missing) {
            EXPECT_NE(line.find(c.missing), std::string::npos) << c.what << ": " << line;
        } else {
            EXPECT_EQ(line.find("good needs"), std::string::npos) << c.what << ": " << line;
            EXPECT_EQ(line.find("carry the plate"), std::string::npos) << c.what << ": " << line;
        }
    }
}

// The record beside a stored matrix comes back as written; a damaged one is ignored with a line.
TEST(CalibrationQuality, TheStoredRecordRoundTripsAndADamagedOneIsIgnored)
{
    const std::string folder = testing::TempDir() + "tavorin_quality_" + std::to_string(::getpid());
    std::filesystem::create_directories(folder);
    const std::string matrix = folder + "/kinect_000135193412.json";
    EXPECT_EQ(folder + "/kinect_000135193412.calibration.json", tavorin::calibrationRecordPath(matrix));
    EXPECT_FALSE(tavorin::loadCalibrationRecord(matrix).has_value()) << "none stored yet";

    tavorin::CalibrationRecord record{"2026-12-09 23:41", 0.44, 0.12, 0.004, "good"};
    ASSERT_TRUE(tavorin::storeCalibrationRecord(matrix, record));
    const std::optional<tavorin::CalibrationRecord> loaded = tavorin::loadCalibrationRecord(matrix);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ("Stored 2026-12-09 23:41: RMS 0.44 mm, 1\u03c3 0.12 mm 0.004\u00b0 (good)",
              tavorin::calibrationRecordLine(*loaded));

    for (const char* damaged : {"not json", "{\"storedAt\": \"x\"}", "[1, 2]", "{\"storedAt\": 3, \"holeRmsMm\": 1}"}) {
        std::ofstream(tavorin::calibrationRecordPath(matrix), std::ios::trunc) << damaged;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(tavorin::loadCalibrationRecord(matrix).has_value()) << damaged;
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("Ignoring calibration record"))
            << damaged;
    }
    testing::internal::CaptureStderr();
    EXPECT_FALSE(tavorin::storeCalibrationRecord(matrix + "/under_a_file.json", record));
    EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find("Unable to write calibration record"));
    std::filesystem::remove_all(folder);
}
