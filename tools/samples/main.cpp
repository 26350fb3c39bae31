// tavorin-samples: writes three synthetic recordings of an operating room with a moving hole
// plate, and their ground truth, under samples/OP1/ (or the folder given with --out).
#include "SampleRecordingFile.h"

#include "acquisition/PinholeParameters.h"
#include "base/Console.h"
#include "sample_scene/SampleCalibrationBlob.h"
#include "sample_scene/SampleCameraRig.h"
#include "sample_scene/SampleView.h"

#include <k4a/k4a.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <thread>

namespace console = tavorin::console;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 576;
constexpr double kFps = 30.0;
constexpr double kDefaultSeconds = 4.0;
constexpr double kStartTimestamp = 12.0; // seconds on the shared device clock
constexpr int kParameterCount = 14;
constexpr int kSampleCameras = 3;

// One sample camera: its calibration and its view of the room.
struct SampleCamera {
    std::string serial;
    std::string blob;
    k4a_calibration_t calibration{};
    std::unique_ptr<sample_scene::SampleView> view;
};

bool calibrate(SampleCamera& camera)
{
    std::string text = camera.blob;
    return k4a_calibration_get_from_raw(&text[0], text.size() + 1, K4A_DEPTH_MODE_NFOV_UNBINNED,
                                        K4A_COLOR_RESOLUTION_720P, &camera.calibration)
        == K4A_RESULT_SUCCEEDED;
}

// (x, y) of every pixel's unit-depth ray, NaN where the pixel does not map.
std::vector<float> unitDepthRays(const k4a_calibration_t& calibration)
{
    std::vector<float> rays(std::size_t(kWidth) * kHeight * 2);
    for (int r = 0; r < kHeight; ++r)
        for (int c = 0; c < kWidth; ++c) {
            k4a_float2_t pixel;
            pixel.xy = {static_cast<float>(c), static_cast<float>(r)};
            k4a_float3_t ray;
            int valid = 0;
            k4a_calibration_2d_to_3d(&calibration, &pixel, 1.0f, K4A_CALIBRATION_TYPE_DEPTH,
                                     K4A_CALIBRATION_TYPE_DEPTH, &ray, &valid);
            const std::size_t k = (std::size_t(r) * kWidth + c) * 2;
            rays[k] = valid ? ray.xyz.x : std::numeric_limits<float>::quiet_NaN();
            rays[k + 1] = valid ? ray.xyz.y : std::numeric_limits<float>::quiet_NaN();
        }
    return rays;
}

SampleCamera makeCamera(int index)
{
    SampleCamera camera;
    camera.serial = sample_scene::cameraSerial(index);
    camera.blob = sampleCalibrationBlob(index, camera.serial);
    if (!calibrate(camera))
        console::err("The sample calibration of ", camera.serial, " does not parse.");
    camera.view = std::make_unique<sample_scene::SampleView>(sample_scene::cameraPose(index), kWidth, kHeight,
                                                              unitDepthRays(camera.calibration));
    return camera;
}

void writeRecording(const SampleCamera& camera, int index, const std::string& path, int frames, double duration)
{
    SampleRecordingFile file(path, kWidth, kHeight, frames, kParameterCount);
    if (!file.ok())
        return;
    file.writeRawCalibration(camera.blob, sample_scene::blobWithNul(index));
    std::vector<double> timestamps;
    const std::vector<float> parameters = tavorin::pinholeParameters(camera.calibration);
    std::mt19937 rng(1000u + static_cast<unsigned>(index));
    std::vector<std::uint16_t> depth(std::size_t(kWidth) * kHeight);
    std::vector<std::uint8_t> bgra(depth.size() * 4);
    for (int k = 0; k < frames; ++k) {
        const PlatePose plate = sample_scene::plateAt(k / kFps, duration);
        camera.view->renderDepth(plate, rng, depth.data());
        camera.view->renderColor(plate, bgra.data());
        file.writeFrame(k, depth.data(), bgra.data(), parameters.data());
        timestamps.push_back(kStartTimestamp + k / kFps);
    }
    file.writeTimestamps(timestamps);
}

nlohmann::json groundTruth(const std::string& folder, int frames, double duration)
{
    nlohmann::json truth = sample_scene::groundTruth({0, 1, 2}, folder);
    for (int k = 0; k < frames; ++k)
        truth["trajectory"].push_back(
            sample_scene::trajectoryEntry(k, kStartTimestamp + k / kFps, sample_scene::plateAt(k / kFps, duration)));
    return truth;
}

struct Options {
    std::string folder = "samples/OP1";
    double seconds = kDefaultSeconds;
};

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--out" && i + 1 < argc)
            options.folder = argv[++i];
        else if (arg == "--seconds" && i + 1 < argc)
            options.seconds = std::atof(argv[++i]);
        else
            return false;
    }
    return options.seconds > 0.0 && options.seconds <= 60.0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        console::err("Usage: tavorin-samples [--out FOLDER] [--seconds S (0 < S <= 60)]");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    std::error_code error;
    std::filesystem::create_directories(options.folder, error);
    if (error) {
        console::err("Unable to create ", options.folder, ": ", error.message());
        return 1;
    }
    const int frames = static_cast<int>(std::lround(options.seconds * kFps));
    std::vector<SampleCamera> cameras(kSampleCameras);
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < cameras.size(); ++i)
        workers.emplace_back([&, i] {
            cameras[i] = makeCamera(static_cast<int>(i));
            const std::string path = options.folder + "/kinect_" + cameras[i].serial + ".h5";
            writeRecording(cameras[i], static_cast<int>(i), path, frames, options.seconds);
        });
    for (std::thread& worker : workers)
        worker.join();

    const std::string truthPath = options.folder + "/ground_truth.json";
    std::ofstream(truthPath) << groundTruth(options.folder, frames, options.seconds).dump(2) << "\n";
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::out("Wrote ", cameras.size(), " recordings of ", frames, " frames and ", truthPath, " in ", elapsed, " s");
    return 0;
}
