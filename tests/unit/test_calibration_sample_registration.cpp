// The bounded registration against the full computation, on the observations that the calibration
// cycle accumulates from sample recordings of the operating room (made by tavorin-samples).

#include "calibration/cycle/DepthCameraCalibrator.h"

#include "acquisition/recording/HDF5RecordingReader.h"
#include "scene/SceneState.h"
#include "test_calibration_fake_source.h"
#include "test_calibration_transform_error.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using tavorin::DepthCameraCalibrator, tavorin::distance, tavorin::HDF5RecordingReader, tavorin::Mat4,
    tavorin::RegistrationResidual, tavorin::SceneState;

namespace {

// Two seconds give every camera pair about 1500 hole correspondences: more than the consensus
// reservoir holds and more than one update re-classifies.
constexpr const char* kSampleSeconds = "2";

std::vector<std::string> makeSampleRecordings(const std::filesystem::path& folder)
{
    const std::string command = std::string(TAVORIN_BINARY_DIR) + "/tavorin-samples --out " + folder.string()
        + " --seconds " + kSampleSeconds + " > /dev/null";
    if (std::system(command.c_str()) != 0)
        return {};
    std::vector<std::string> recordings;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".h5")
            recordings.push_back(entry.path().string());
    std::sort(recordings.begin(), recordings.end());
    return recordings;
}

TEST(SampleRegistration, TheBoundedRegistrationGivesTheFullComputationsMatrices)
{
    constexpr float kMaxRotationDegrees = 0.01f;
    constexpr float kMaxTranslation = 0.0001f; // metres
    const std::filesystem::path folder =
        std::filesystem::path(testing::TempDir()) / ("tavorin_bounded_" + std::to_string(::getpid()));
    const std::vector<std::string> recordings = makeSampleRecordings(folder);
    ASSERT_EQ(recordings.size(), 3u) << "tavorin-samples did not write three recordings into " << folder;

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    std::vector<HDF5RecordingReader> readers(recordings.size());
    for (std::size_t i = 0; i < recordings.size(); ++i)
        ASSERT_TRUE(readers[i].open(recordings[i], false));
    SceneState state;
    state.depthSource = std::make_shared<MatrixRecordingSource>();
    DepthCameraCalibrator calibrator;
    for (std::uint32_t frame = 0; frame < readers.front().frameCount(); ++frame) {
        state.cameras.clear();
        for (HDF5RecordingReader& reader : readers) {
            ASSERT_TRUE(reader.loadFrame(frame));
            state.cameras.push_back(cameraRecord(reader.fileName(), reader.points(), static_cast<int>(reader.width()),
                                                 static_cast<int>(reader.height())));
        }
        calibrator.calibrateDepthCameras(state);
    }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    std::filesystem::remove_all(folder);

    const std::vector<Mat4> full =
        calibrator.fineRegistration().registrateOverAll(0, calibrator.registrationInlierThreshold());
    ASSERT_EQ(calibrator.transforms().size(), 3u);
    ASSERT_EQ(full.size(), 3u);
    EXPECT_GT(calibrator.fineRegistration().referencePointCount(), 1024u);
    for (std::size_t i = 1; i < full.size(); ++i) {
        const Mat4& bounded = calibrator.transforms()[i];
        EXPECT_NE(bounded, Mat4::identity()) << "camera " << i << " registered";
        EXPECT_LT(rotationErrorDegrees(bounded, full[i]), kMaxRotationDegrees) << "camera " << i;
        EXPECT_LT(distance(bounded.translation(), full[i].translation()), kMaxTranslation) << "camera " << i;
    }

    // The running figures that the settings bar shows against those of a pass over every pair.
    constexpr double kMaxRmsDifference = 0.0001; // metres
    const std::vector<RegistrationResidual> running = calibrator.fineRegistration().currentResiduals();
    const std::vector<RegistrationResidual> counted = calibrator.fineRegistration().residuals(
        calibrator.transforms(), 0, calibrator.registrationInlierThreshold());
    ASSERT_EQ(running.size(), 3u);
    ASSERT_EQ(counted.size(), 3u);
    for (std::size_t i = 1; i < running.size(); ++i) {
        EXPECT_EQ(counted[i].correspondenceCount, running[i].correspondenceCount) << "camera " << i;
        EXPECT_NEAR(counted[i].inlierRms, running[i].inlierRms, kMaxRmsDifference) << "camera " << i;
    }
}

} // namespace
