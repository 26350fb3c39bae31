// tavorin-samples: writes three synthetic recordings of an operating room with a moving hole
// plate, and their ground truth, under samples/OP1/ (or the folder given with --out). By default the
// cameras capture together; with --capture-offsets each captures later by its own offset, as
// cameras without a sync cable do.
#include "SampleCalibrationBlob.h"
#include "SampleRecordingFile.h"
#include "SampleRoom.h"

#include "acquisition/RayTable.h"
#include "base/Console.h"

#include <k4a/k4a.h>

#include <Eigen/Geometry>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <utility>
#include <vector>
#include <random>
#include <thread>

namespace console = tavorin::console;
using tavorin::fillRayTable, tavorin::RayTableY;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 576;
constexpr double kFps = 30.0;
constexpr double kDefaultSeconds = 4.0;
constexpr double kStartTimestamp = 12.0; // seconds on the shared device clock
constexpr double kMinDepthMm = 500.0;
constexpr double kMaxDepthMm = 3860.0;
constexpr double kNoiseSigmaMm = 1.5;
constexpr double kMixedPixelStepMm = 50.0;
constexpr int kParameterCount = 14;
constexpr double kDegree = M_PI / 180.0;

struct CameraMount {
    const char* serial;
    double azimuthDeg; // around the work centre, 0 = +z side
    double distance;   // horizontal, metres
    double height;     // metres
    bool blobWithNul;
};

constexpr CameraMount kMounts[] = {
    {"000135193412", -25.0, 1.75, 2.00, true},
    {"000218790512", 28.0, 1.70, 1.80, true},
    {"000402694812", 178.0, 1.65, 2.15, false},
};

const Eigen::Vector3d kWorkCentre(0.0, 1.30, 0.0); // centre of the plate's path, room metres
const Eigen::Vector3d kAimPoint(0.0, 0.90, 0.0);

// One sample camera: its pose (SDK camera frame x right, y down, z forward -> room), its
// calibration, the room direction of every pixel's unit-depth ray and the static background.
struct SampleCamera {
    std::string serial;
    std::string blob;
    bool blobWithNul = true;
    k4a_calibration_t calibration{};
    Eigen::Matrix3d R_room_sdk;
    Eigen::Vector3d position;
    std::vector<Eigen::Vector3d> rays; // NaN where the pixel does not map
    std::vector<double> backgroundMm;  // static depth, infinity where nothing is hit
    std::vector<std::array<std::uint8_t, 3>> backgroundBgr;
};

Eigen::Matrix3d lookAt(const Eigen::Vector3d& position, const Eigen::Vector3d& target)
{
    const Eigen::Vector3d forward = (target - position).normalized();
    const Eigen::Vector3d right = forward.cross(Eigen::Vector3d::UnitY()).normalized();
    const Eigen::Vector3d down = forward.cross(right);
    Eigen::Matrix3d R;
    R.col(0) = right;
    R.col(1) = down;
    R.col(2) = forward;
    return R;
}

bool calibrate(SampleCamera& camera)
{
    std::string text = camera.blob;
    return k4a_calibration_get_from_raw(&text[0], text.size() + 1, K4A_DEPTH_MODE_NFOV_UNBINNED,
                                        K4A_COLOR_RESOLUTION_720P, &camera.calibration)
        == K4A_RESULT_SUCCEEDED;
}

// The room-frame ray at unit depth of every depth pixel; NaN where the pixel does not map.
void buildRays(SampleCamera& camera)
{
    constexpr float kNoRay = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> table(std::size_t(kWidth) * kHeight * 2, kNoRay);
    const k4a_calibration_camera_t& depthCamera = camera.calibration.depth_camera_calibration;
    if (depthCamera.resolution_width != kWidth || depthCamera.resolution_height != kHeight
        || !fillRayTable(camera.calibration, RayTableY::AsSdk, table.data()))
        console::err("The sample calibration of ", camera.serial, " does not convert its pixels.");
    camera.rays.resize(std::size_t(kWidth) * kHeight);
    for (std::size_t k = 0; k < camera.rays.size(); ++k) {
        const Eigen::Vector3d sdk(table[2 * k], table[2 * k + 1], 1.0);
        camera.rays[k] = std::isnan(table[2 * k])
            ? Eigen::Vector3d::Constant(std::numeric_limits<double>::quiet_NaN())
            : Eigen::Vector3d(camera.R_room_sdk * sdk);
    }
}

void renderBackground(SampleCamera& camera)
{
    camera.backgroundMm.assign(camera.rays.size(), std::numeric_limits<double>::infinity());
    camera.backgroundBgr.assign(camera.rays.size(), {0, 0, 0});
    for (std::size_t k = 0; k < camera.rays.size(); ++k) {
        SurfaceHit hit;
        if (!std::isnan(camera.rays[k].x()) && SampleRoom::intersectStatic(camera.position, camera.rays[k], hit)) {
            camera.backgroundMm[k] = hit.t * 1000.0;
            camera.backgroundBgr[k] = hit.bgr;
        }
    }
}

SampleCamera makeCamera(int index)
{
    const CameraMount& mount = kMounts[index];
    SampleCamera camera;
    camera.serial = mount.serial;
    camera.blob = sampleCalibrationBlob(index, mount.serial);
    camera.blobWithNul = mount.blobWithNul;
    const double a = mount.azimuthDeg * kDegree;
    camera.position = Eigen::Vector3d(kWorkCentre.x() + mount.distance * std::sin(a), mount.height,
                                      kWorkCentre.z() + mount.distance * std::cos(a));
    camera.R_room_sdk = lookAt(camera.position, kAimPoint);
    if (!calibrate(camera))
        console::err("The sample calibration of ", camera.serial, " does not parse.");
    buildRays(camera);
    renderBackground(camera);
    return camera;
}

// The plate's path: it drifts through the shared view at chest height, sways about the vertical,
// tilts toward the cameras and turns within its own plane by 25 degrees per second.
PlatePose plateAt(double seconds, double duration)
{
    const double phase = 2.0 * M_PI * seconds / duration;
    PlatePose pose;
    pose.centre = kWorkCentre
        + Eigen::Vector3d(0.14 * std::sin(phase), 0.05 * std::sin(2.0 * phase), 0.10 * std::sin(phase + 1.0));
    const double yaw = 8.0 * kDegree * std::sin(phase + 0.4);
    const double tilt = (6.0 + 4.0 * std::sin(2.0 * phase)) * kDegree;
    const double roll = (-30.0 + 25.0 * seconds) * kDegree;
    const Eigen::Matrix3d R = (Eigen::AngleAxisd(yaw, Eigen::Vector3d::UnitY())
                               * Eigen::AngleAxisd(-tilt, Eigen::Vector3d::UnitX())
                               * Eigen::AngleAxisd(roll, Eigen::Vector3d::UnitZ()))
                                  .toRotationMatrix();
    pose.u = R.col(0);
    pose.v = R.col(1);
    pose.n = R.col(2);
    return pose;
}

// Noise-free depth (mm, 0 outside the range) and colour of one frame.
void renderScene(const SampleCamera& camera, const PlatePose& plate, std::vector<double>& depthMm,
                 std::vector<std::uint8_t>& bgra)
{
    for (std::size_t k = 0; k < camera.rays.size(); ++k) {
        double z = camera.backgroundMm[k];
        std::array<std::uint8_t, 3> colour = camera.backgroundBgr[k];
        SurfaceHit hit;
        if (!std::isnan(camera.rays[k].x()) && SampleRoom::intersectPlate(plate, camera.position, camera.rays[k], hit)
            && hit.t * 1000.0 < z) {
            z = hit.t * 1000.0;
            colour = hit.bgr;
        }
        const bool inRange = z >= kMinDepthMm && z <= kMaxDepthMm;
        depthMm[k] = inRange ? z : 0.0;
        for (int i = 0; i < 3; ++i)
            bgra[4 * k + i] = inRange ? colour[i] : 0;
        bgra[4 * k + 3] = 255;
    }
}

// The sensor loses the far side of a depth step between two surfaces in range.
void dropMixedPixels(std::vector<double>& depthMm)
{
    const std::vector<double> z = depthMm;
    const auto nearerNeighbour = [&](int r, int c) {
        const double here = z[std::size_t(r) * kWidth + c];
        const int dr[4] = {-1, 1, 0, 0};
        const int dc[4] = {0, 0, -1, 1};
        for (int i = 0; i < 4; ++i) {
            const int rr = r + dr[i];
            const int cc = c + dc[i];
            if (rr < 0 || rr >= kHeight || cc < 0 || cc >= kWidth)
                continue;
            const double there = z[std::size_t(rr) * kWidth + cc];
            if (there > 0.0 && here - there > kMixedPixelStepMm)
                return true;
        }
        return false;
    };
    for (int r = 0; r < kHeight; ++r)
        for (int c = 0; c < kWidth; ++c)
            if (z[std::size_t(r) * kWidth + c] > 0.0 && nearerNeighbour(r, c))
                depthMm[std::size_t(r) * kWidth + c] = 0.0;
}

void quantiseWithNoise(const std::vector<double>& depthMm, std::mt19937& rng, std::vector<std::uint16_t>& out)
{
    std::normal_distribution<double> noise(0.0, kNoiseSigmaMm);
    for (std::size_t k = 0; k < depthMm.size(); ++k) {
        if (depthMm[k] == 0.0) {
            out[k] = 0;
            continue;
        }
        const double z = std::round(depthMm[k] + noise(rng));
        out[k] = static_cast<std::uint16_t>(std::max(kMinDepthMm, std::min(kMaxDepthMm, z)));
    }
}

std::vector<float> pinholeParameters(const k4a_calibration_t& calibration)
{
    // Principal point with pixel centres at +0.5, then the focal lengths and the distortion terms.
    const auto& p = calibration.depth_camera_calibration.intrinsics.parameters.param;
    return {p.cx + 0.5f, p.cy + 0.5f, p.fx, p.fy, p.k1, p.k2, p.k3, p.k4, p.k5, p.k6, p.codx, p.cody, p.p2, p.p1};
}

// Camera `index` captures frame k at k / 30 s plus its offset on the shared clock, and the plate is
// rendered where it is at that instant: cameras without a sync cable never capture together.
double captureSeconds(int frame, double offsetSeconds)
{
    return frame / kFps + offsetSeconds;
}

void writeRecording(const SampleCamera& camera, int index, const std::string& path, int frames, double duration,
                    double offsetSeconds)
{
    SampleRecordingFile file(path, kWidth, kHeight, frames, kParameterCount);
    if (!file.ok())
        return;
    file.writeRawCalibration(camera.blob, camera.blobWithNul);
    std::vector<double> timestamps;
    const std::vector<float> parameters = pinholeParameters(camera.calibration);
    std::mt19937 rng(1000u + static_cast<unsigned>(index));
    std::vector<double> depthMm(camera.rays.size());
    std::vector<std::uint16_t> depth(camera.rays.size());
    std::vector<std::uint8_t> bgra(camera.rays.size() * 4);
    for (int k = 0; k < frames; ++k) {
        const double seconds = captureSeconds(k, offsetSeconds);
        renderScene(camera, plateAt(seconds, duration), depthMm, bgra);
        dropMixedPixels(depthMm);
        quantiseWithNoise(depthMm, rng, depth);
        file.writeFrame(k, depth.data(), bgra.data(), parameters.data());
        timestamps.push_back(kStartTimestamp + seconds);
    }
    file.writeTimestamps(timestamps);
}

nlohmann::json vec(const Eigen::Vector3d& v)
{
    return {v.x(), v.y(), v.z()};
}

// Column-major 16 numbers, as in the configuration files.
nlohmann::json columnMajor(const Eigen::Matrix4d& m)
{
    nlohmann::json out = nlohmann::json::array();
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            out.push_back(m(r, c));
    return out;
}

// Camera points of the calibrated path are (-x, -y, z) of the SDK frame; this maps them to room.
Eigen::Matrix4d modelMatrix(const SampleCamera& camera)
{
    Eigen::Matrix4d T_room_sdk = Eigen::Matrix4d::Identity();
    T_room_sdk.block<3, 3>(0, 0) = camera.R_room_sdk;
    T_room_sdk.block<3, 1>(0, 3) = camera.position;
    const Eigen::Matrix4d S = Eigen::Vector4d(-1.0, -1.0, 1.0, 1.0).asDiagonal();
    return T_room_sdk * S;
}

nlohmann::json plateFrame(int frame, double seconds, double duration)
{
    const PlatePose pose = plateAt(seconds, duration);
    nlohmann::json entry = {{"frame", frame},
                            {"timestamp", kStartTimestamp + seconds},
                            {"centre", vec(pose.centre)},
                            {"u", vec(pose.u)},
                            {"v", vec(pose.v)},
                            {"normal", vec(pose.n)}};
    for (const Eigen::Vector3d& hole : SampleRoom::holeCentres(pose))
        entry["holes"].push_back(vec(hole));
    return entry;
}

// The plate at every frame; with capture offsets, at every capture instant of every camera, in
// time order, each entry naming the camera that captured then.
nlohmann::json trajectory(const std::vector<double>& offsetsSeconds, int frames, double duration)
{
    const bool synchronised =
        std::all_of(offsetsSeconds.begin(), offsetsSeconds.end(), [](double offset) { return offset == 0.0; });
    nlohmann::json entries = nlohmann::json::array();
    if (synchronised) {
        for (int k = 0; k < frames; ++k)
            entries.push_back(plateFrame(k, captureSeconds(k, 0.0), duration));
        return entries;
    }
    std::vector<std::pair<double, std::pair<int, int>>> captures; // seconds, (frame, camera)
    for (std::size_t c = 0; c < offsetsSeconds.size(); ++c)
        for (int k = 0; k < frames; ++k)
            captures.push_back({captureSeconds(k, offsetsSeconds[c]), {k, static_cast<int>(c)}});
    std::stable_sort(captures.begin(), captures.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [seconds, capture] : captures) {
        nlohmann::json entry = plateFrame(capture.first, seconds, duration);
        entry["camera"] = capture.second;
        entries.push_back(entry);
    }
    return entries;
}

nlohmann::json groundTruth(const std::vector<SampleCamera>& cameras, const std::string& folder, int frames,
                           double duration, const std::vector<double>& offsetsSeconds)
{
    nlohmann::json truth;
    truth["units"] = "metres; room frame y up, floor at y = 0";
    truth["pointConvention"] = "camera points (-x*d, -y*d, d) of the SDK depth camera frame (x right, y down)";
    truth["matrixLayout"] = "16 numbers column-major, as in the camera configuration files";
    const Eigen::Matrix4d M0 = modelMatrix(cameras.front());
    for (const SampleCamera& camera : cameras) {
        const Eigen::Matrix4d M = modelMatrix(camera);
        nlohmann::json entry;
        entry["serial"] = camera.serial;
        entry["file"] = folder + "/kinect_" + camera.serial + ".h5";
        entry["position"] = vec(camera.position);
        entry["forward"] = vec(camera.R_room_sdk.col(2));
        entry["modelMatrixRoom"] = columnMajor(M);
        entry["modelMatrixRelativeToCamera0"] = columnMajor(M0.inverse() * M);
        const double offset = offsetsSeconds[static_cast<std::size_t>(&camera - cameras.data())];
        if (offset != 0.0)
            entry["captureOffsetMs"] = offset * 1000.0;
        truth["cameras"].push_back(entry);
    }
    for (const Eigen::Vector3d& marker : SampleRoom::markerCentres())
        truth["markers"].push_back(vec(marker));
    truth["markerRadius"] = SampleRoom::kMarkerRadius;
    truth["markerHeight"] = SampleRoom::kMarkerHeight;
    truth["plate"] = {{"size", 2.0 * SampleRoom::kPlateHalfSize},
                      {"holePitch", SampleRoom::kHolePitch},
                      {"holeDiameter", 2.0 * SampleRoom::kHoleRadius},
                      {"handleFromCentre", {SampleRoom::kHandleStart, SampleRoom::kHandleEnd}},
                      {"handleWidth", 2.0 * SampleRoom::kHandleHalfWidth},
                      {"holeOrder", "row-major; row 0 toward +v, column 0 toward -u; the handle lies along +u"}};
    truth["trajectory"] = trajectory(offsetsSeconds, frames, duration);
    return truth;
}

struct Options {
    std::string folder = "samples/OP1";
    double seconds = kDefaultSeconds;
    std::vector<double> offsetsSeconds = std::vector<double>(std::size(kMounts), 0.0);
};

// "MS,MS,MS": one capture offset per camera, in milliseconds, 0 to 1000.
bool parseOffsets(const std::string& text, std::vector<double>& offsetsSeconds)
{
    constexpr double kMaxOffsetMs = 1000.0;
    std::vector<double> offsets;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const std::size_t end = std::min(text.find(',', begin), text.size());
        const std::string field = text.substr(begin, end - begin);
        char* stop = nullptr;
        const double ms = std::strtod(field.c_str(), &stop);
        if (field.empty() || *stop != '\0' || !std::isfinite(ms) || ms < 0.0 || ms > kMaxOffsetMs)
            return false;
        offsets.push_back(ms / 1000.0);
        begin = end + 1;
    }
    if (offsets.size() != offsetsSeconds.size())
        return false;
    offsetsSeconds = offsets;
    return true;
}

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--out" && i + 1 < argc)
            options.folder = argv[++i];
        else if (arg == "--seconds" && i + 1 < argc)
            options.seconds = std::atof(argv[++i]);
        else if (arg == "--capture-offsets" && i + 1 < argc) {
            if (!parseOffsets(argv[++i], options.offsetsSeconds))
                return false;
        } else
            return false;
    }
    return options.seconds > 0.0 && options.seconds <= 60.0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        console::err("Usage: tavorin-samples [--out FOLDER] [--seconds S (0 < S <= 60)] "
                     "[--capture-offsets MS,MS,MS (one per camera, 0 to 1000 ms; default 0,0,0)]");
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
    std::vector<SampleCamera> cameras(std::size(kMounts));
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < cameras.size(); ++i)
        workers.emplace_back([&, i] {
            cameras[i] = makeCamera(static_cast<int>(i));
            const std::string path = options.folder + "/kinect_" + cameras[i].serial + ".h5";
            writeRecording(cameras[i], static_cast<int>(i), path, frames, options.seconds, options.offsetsSeconds[i]);
        });
    for (std::thread& worker : workers)
        worker.join();

    const std::string truthPath = options.folder + "/ground_truth.json";
    std::ofstream(truthPath) << groundTruth(cameras, options.folder, frames, options.seconds, options.offsetsSeconds).dump(2) << "\n";
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::out("Wrote ", cameras.size(), " recordings of ", frames, " frames and ", truthPath, " in ", elapsed, " s");
    return 0;
}
