// tavorin-samples: writes synthetic recordings of an operating room with a moving hole plate, and
// their ground truth, under samples/OP1/ (or the folder given with --out): by default three cameras
// around the work centre; with --cameras and --layout row, a row of cameras along a room that the
// plate is carried through. By default the cameras capture together; with --capture-offsets each
// captures later by its own offset, as cameras without a sync cable do; with --drop-frames the
// recordings miss frames, as those of a host too busy for every frame do; with --clock-offsets each
// camera stamps its frames on a clock of its own that is off by a given amount, as the capture PCs
// of one room do; with --layout ceiling, cameras under the ceiling round the operating table, about
// 3 m from the plate; with --plate-period the
// plate runs its path more often than once per recording, and so faster. With --depth-offsets and
// --depth-scales each sensor measures ranges with its own systematic error, with --depth-artefacts
// with a real sensor's random faults. For the moved-camera check: with --room furnished the room
// holds walls and furniture; with --no-plate no plate is carried through it; with --changed-room S
// the operating table is pushed aside and a person walks through from S seconds on; with --knock a
// camera is turned, shifted, or its range changed, from a given time on. With --depth-only the
// recordings hold no colour, as those of network cameras, which carry depth alone.
#include "SampleRecordingFile.h"

#include "acquisition/model/PinholeParameters.h"
#include "acquisition/model/RayTable.h"
#include "base/Console.h"
#include "sample_scene/SampleCalibrationBlob.h"
#include "sample_scene/SampleCameraRig.h"
#include "sample_scene/SampleFurniture.h"
#include "sample_scene/SampleKnock.h"
#include "sample_scene/SampleLayout.h"
#include "sample_scene/SampleView.h"

#include <k4a/k4a.h>

#include <Eigen/Geometry>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace console = tavorin::console;
using tavorin::fillRayTable, tavorin::RayTableY;
using sample_scene::DepthError, sample_scene::Knock, sample_scene::SampleLayout;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 576;
constexpr double kFps = 30.0;
constexpr double kDefaultSeconds = 4.0;
// A row's plate passes each camera's stretch in about this long, at 0.7 m/s at most.
constexpr double kRowSecondsPerCamera = 2.0;
constexpr double kStartTimestamp = 12.0; // seconds on the shared device clock
constexpr int kParameterCount = 14;
constexpr int kDefaultCameras = 3;
constexpr int kMinCameras = 2;
constexpr double kPercentPerFraction = 100.0;

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

// (x, y) of every pixel's unit-depth ray, NaN where the pixel does not map; empty when the
// calibration does not convert the sample's pixels.
std::vector<float> unitDepthRays(const k4a_calibration_t& calibration)
{
    std::vector<float> rays(std::size_t(kWidth) * kHeight * 2, std::numeric_limits<float>::quiet_NaN());
    const k4a_calibration_camera_t& depthCamera = calibration.depth_camera_calibration;
    if (depthCamera.resolution_width != kWidth || depthCamera.resolution_height != kHeight
        || !fillRayTable(calibration, RayTableY::AsSdk, rays.data()))
        return {};
    return rays;
}

SampleCamera makeCamera(const SampleLayout& layout, int index)
{
    SampleCamera camera;
    camera.serial = sample_scene::cameraSerial(index);
    camera.blob = sampleCalibrationBlob(index, camera.serial);
    if (!calibrate(camera))
        console::err("The sample calibration of ", camera.serial, " does not parse.");
    std::vector<float> rays = unitDepthRays(camera.calibration);
    if (rays.empty()) {
        console::err("The sample calibration of ", camera.serial, " does not convert its pixels.");
        rays.assign(std::size_t(kWidth) * kHeight * 2, std::numeric_limits<float>::quiet_NaN());
    }
    camera.view =
        std::make_unique<sample_scene::SampleView>(layout.cameraPose(index), kWidth, kHeight, std::move(rays));
    return camera;
}

// What happens in the room while it is recorded, beside the plate's path.
struct SceneEvents {
    bool furnished = false;
    bool plate = true;
    std::optional<double> changedAt; // the table pushed aside, a person walking, from then on
    std::vector<Knock> knocks;
};

// A plate where no camera sees it: under the floor.
PlatePose hiddenPlate()
{
    constexpr double kUnderFloor = -50.0;
    PlatePose plate;
    plate.centre = Eigen::Vector3d(0.0, kUnderFloor, 0.0);
    plate.u = Eigen::Vector3d::UnitX();
    plate.v = Eigen::Vector3d::UnitZ();
    plate.n = -Eigen::Vector3d::UnitY();
    return plate;
}

// The room after its change: the table pushed aside (it stays there).
void changeRoom(sample_scene::SampleView& view)
{
    std::vector<sample_scene::FloorBox> boxes = sample_scene::furnishedRoom();
    boxes.back() = sample_scene::pushedTable();
    view.furnish(boxes);
}

// Camera `index` captures frame k at k / 30 s plus its offset on the shared clock, and the plate is
// rendered where it is at that instant: cameras without a sync cable never capture together.
double captureSeconds(int frame, double offsetSeconds)
{
    return frame / kFps + offsetSeconds;
}

// `offsetSeconds`: when the camera captures after the shared frame clock; `clockOffsetSeconds`: how
// far ahead of the true time its stamps are.
void writeRecording(const SampleLayout& layout, const SampleCamera& camera, int index, const std::string& path,
                    const std::vector<int>& slots, double platePeriod, double offsetSeconds, double clockOffsetSeconds,
                    const SceneEvents& events, bool colour)
{
    const int frames = static_cast<int>(slots.size());
    SampleRecordingFile file(path, kWidth, kHeight, frames, kParameterCount, colour);
    if (!file.ok())
        return;
    file.writeRawCalibration(camera.blob, sample_scene::blobWithNul(index));
    std::vector<double> timestamps;
    const std::vector<float> parameters = tavorin::pinholeParameters(camera.calibration);
    std::mt19937 rng(1000u + static_cast<unsigned>(index));
    std::vector<std::uint16_t> depth(std::size_t(kWidth) * kHeight);
    std::vector<std::uint8_t> bgra(depth.size() * 4);
    sample_scene::CameraPose pose = layout.cameraPose(index);
    std::vector<bool> knocked(events.knocks.size(), false);
    bool changed = false;
    for (int k = 0; k < frames; ++k) {
        const double seconds = captureSeconds(slots[static_cast<std::size_t>(k)], offsetSeconds);
        for (std::size_t n = 0; n < events.knocks.size(); ++n)
            if (!knocked[n] && events.knocks[n].camera == index && seconds >= events.knocks[n].seconds) {
                sample_scene::applyKnock(*camera.view, pose, events.knocks[n]);
                knocked[n] = true;
            }
        if (events.changedAt && seconds >= *events.changedAt) {
            if (!changed)
                changeRoom(*camera.view);
            changed = true;
            camera.view->setMoving({sample_scene::walkingPerson(seconds - *events.changedAt)});
        }
        const PlatePose plate = events.plate ? layout.plateAt(seconds, platePeriod) : hiddenPlate();
        if (colour)
            camera.view->renderDepthAndColor(plate, rng, depth.data(), bgra.data());
        else
            camera.view->renderDepth(plate, rng, depth.data());
        file.writeFrame(k, depth.data(), bgra.data(), parameters.data());
        timestamps.push_back(kStartTimestamp + seconds + clockOffsetSeconds);
    }
    file.writeTimestamps(timestamps);
}

// The plate at every frame; with capture offsets, at every capture instant of every camera, in
// time order, each entry naming the camera that captured then, and each camera its offset. The
// trajectory's timestamps are true times; each camera's stamps are ahead of them by its
// "clockOffsetMs". `cameraSlots`: per camera, the capture slots its recording keeps.
nlohmann::json groundTruth(const SampleLayout& layout, const std::string& folder,
                           const std::vector<std::vector<int>>& cameraSlots, double platePeriod,
                           const std::vector<double>& offsetsSeconds, const std::vector<double>& clockOffsetsSeconds,
                           const std::vector<DepthError>& depthErrors, bool depthArtefacts)
{
    const std::vector<int>& slots = cameraSlots.front();
    const int frames = static_cast<int>(slots.size());
    const auto slotSeconds = [&](int k) { return slots[static_cast<std::size_t>(k)] / kFps; };
    nlohmann::json truth = sample_scene::groundTruth(layout.sceneCameras(depthErrors), folder, depthArtefacts);
    for (std::size_t c = 0; c < clockOffsetsSeconds.size(); ++c)
        truth["cameras"][c]["clockOffsetMs"] = clockOffsetsSeconds[c] * 1000.0;
    const bool synchronised =
        std::all_of(offsetsSeconds.begin(), offsetsSeconds.end(), [](double offset) { return offset == 0.0; });
    if (synchronised) {
        for (int k = 0; k < frames; ++k)
            truth["trajectory"].push_back(sample_scene::trajectoryEntry(k, kStartTimestamp + slotSeconds(k),
                                                                        layout.plateAt(slotSeconds(k), platePeriod)));
        return truth;
    }
    std::vector<std::pair<double, std::pair<int, int>>> captures; // seconds, (frame, camera)
    for (std::size_t c = 0; c < offsetsSeconds.size(); ++c) {
        truth["cameras"][c]["captureOffsetMs"] = offsetsSeconds[c] * 1000.0;
        const std::vector<int>& kept = cameraSlots[c];
        for (std::size_t k = 0; k < kept.size(); ++k)
            captures.push_back({captureSeconds(kept[k], offsetsSeconds[c]), {static_cast<int>(k), static_cast<int>(c)}});
    }
    std::stable_sort(captures.begin(), captures.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [seconds, capture] : captures) {
        nlohmann::json entry = sample_scene::trajectoryEntry(capture.first, kStartTimestamp + seconds,
                                                             layout.plateAt(seconds, platePeriod));
        entry["camera"] = capture.second;
        truth["trajectory"].push_back(entry);
    }
    return truth;
}

struct Options {
    std::string folder = "samples/OP1";
    std::optional<double> seconds; // the layout's default
    int cameras = kDefaultCameras;
    SampleLayout::Kind layout = SampleLayout::Kind::Around;
    // Per camera when given; their number is checked against the cameras' once all are read.
    std::vector<double> offsetsMs;
    std::vector<double> clockOffsetsMs;
    std::vector<double> depthOffsetsMm;
    std::vector<double> depthScalePercents;
    bool depthArtefacts = false;
    bool depthOnly = false;
    int dropPercent = 0;
    std::optional<double> platePeriod; // seconds of one pass of the plate's path; the recording's length
    SceneEvents events;
};

// The 30 fps capture slots a recording keeps: all of them, or, as on a host too busy for every
// frame, each after the first dropped with the given chance. Cameras on one frame grid drop the
// same slots (`stream` 0 for all); cameras that capture apart each drop their own (their own
// `stream`). A fixed seed per stream, so that the scene is the same every time.
std::vector<int> keptSlots(int slotCount, int dropPercent, unsigned stream)
{
    constexpr int kPercent = 100;
    std::mt19937 rng(4242u + stream);
    std::uniform_int_distribution<int> roll(0, kPercent - 1);
    std::vector<int> slots;
    for (int k = 0; k < slotCount; ++k)
        if (k == 0 || roll(rng) >= dropPercent)
            slots.push_back(k);
    return slots;
}

// "V,V,...": numbers from `low` to `high`; false for anything else.
bool parseList(const std::string& text, double low, double high, std::vector<double>& values)
{
    values.clear();
    std::size_t begin = 0;
    while (begin <= text.size()) {
        const std::size_t end = std::min(text.find(',', begin), text.size());
        const std::string field = text.substr(begin, end - begin);
        char* stop = nullptr;
        const double value = std::strtod(field.c_str(), &stop);
        if (field.empty() || *stop != '\0' || !std::isfinite(value) || value < low || value > high)
            return false;
        values.push_back(value);
        begin = end + 1;
    }
    return true;
}

// Whether a per-camera list is absent or has one value per camera.
bool onePerCamera(const std::vector<double>& values, int cameras)
{
    return values.empty() || values.size() == static_cast<std::size_t>(cameras);
}

// The knocks in the ground truth: each knocked camera's knocks and its matrix after them.
void addKnocks(const SampleLayout& layout, const std::vector<Knock>& knocks, nlohmann::json& truth)
{
    for (int c = 0; c < layout.cameraCount(); ++c) {
        std::vector<Knock> own;
        for (const Knock& knock : knocks)
            if (knock.camera == c)
                own.push_back(knock);
        if (own.empty())
            continue;
        std::stable_sort(own.begin(), own.end(), [](const Knock& a, const Knock& b) { return a.seconds < b.seconds; });
        sample_scene::CameraPose pose = layout.cameraPose(c);
        nlohmann::json& entry = truth["cameras"][static_cast<std::size_t>(c)];
        for (const Knock& knock : own) {
            pose = sample_scene::knockedPose(pose, knock);
            entry["knocks"].push_back({{"seconds", knock.seconds}, {"kind", sample_scene::knockKindName(knock.kind)},
                                       {"amount", knock.amount}});
        }
        const Eigen::Matrix4d M = sample_scene::modelMatrix(pose);
        for (int column = 0; column < 4; ++column)
            for (int row = 0; row < 4; ++row)
                entry["modelMatrixRoomAfterKnocks"].push_back(M(row, column));
    }
}

bool parseOptions(int argc, char** argv, Options& options)
{
    constexpr double kMaxOffsetMs = 1000.0;
    std::vector<std::string> knockTexts; // read once the number of cameras is known
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--out" && i + 1 < argc)
            options.folder = argv[++i];
        else if (arg == "--seconds" && i + 1 < argc)
            options.seconds = std::atof(argv[++i]);
        else if (arg == "--cameras" && i + 1 < argc) {
            char* stop = nullptr;
            const long count = std::strtol(argv[++i], &stop, 10);
            if (*stop != '\0' || stop == argv[i] || count < kMinCameras || count > sample_scene::kMaxCameras)
                return false;
            options.cameras = static_cast<int>(count);
        } else if (arg == "--layout" && i + 1 < argc) {
            const std::string layout = argv[++i];
            if (layout == "around")
                options.layout = SampleLayout::Kind::Around;
            else if (layout == "row")
                options.layout = SampleLayout::Kind::Row;
            else if (layout == "ceiling")
                options.layout = SampleLayout::Kind::Ceiling;
            else
                return false;
        } else if (arg == "--capture-offsets" && i + 1 < argc) {
            if (!parseList(argv[++i], 0.0, kMaxOffsetMs, options.offsetsMs))
                return false;
        } else if (arg == "--clock-offsets" && i + 1 < argc) {
            if (!parseList(argv[++i], -kMaxOffsetMs, kMaxOffsetMs, options.clockOffsetsMs))
                return false;
        } else if (arg == "--depth-offsets" && i + 1 < argc) {
            if (!parseList(argv[++i], -DepthError::kMaxOffsetMm, DepthError::kMaxOffsetMm, options.depthOffsetsMm))
                return false;
        } else if (arg == "--depth-scales" && i + 1 < argc) {
            constexpr double kMaxPercent = DepthError::kMaxScale * kPercentPerFraction;
            if (!parseList(argv[++i], -kMaxPercent, kMaxPercent, options.depthScalePercents))
                return false;
        } else if (arg == "--depth-artefacts")
            options.depthArtefacts = true;
        else if (arg == "--drop-frames" && i + 1 < argc) {
            constexpr int kMaxDropPercent = 90;
            char* stop = nullptr;
            const long percent = std::strtol(argv[++i], &stop, 10);
            if (*stop != '\0' || stop == argv[i] || percent < 0 || percent > kMaxDropPercent)
                return false;
            options.dropPercent = static_cast<int>(percent);
        } else if (arg == "--plate-period" && i + 1 < argc) {
            constexpr double kMinPeriod = 1.0;
            constexpr double kMaxPeriod = 60.0;
            char* stop = nullptr;
            const double period = std::strtod(argv[++i], &stop);
            if (*stop != '\0' || stop == argv[i] || !(period >= kMinPeriod && period <= kMaxPeriod))
                return false;
            options.platePeriod = period;
        } else if (arg == "--room" && i + 1 < argc && std::string(argv[i + 1]) == "furnished") {
            options.events.furnished = true;
            ++i;
        } else if (arg == "--no-plate") {
            options.events.plate = false;
        } else if (arg == "--changed-room" && i + 1 < argc) {
            std::vector<double> at;
            if (!parseList(argv[++i], 0.0, 60.0, at) || at.size() != 1)
                return false;
            options.events.changedAt = at[0];
        } else if (arg == "--knock" && i + 1 < argc) {
            knockTexts.push_back(argv[++i]);
        } else if (arg == "--depth-only") {
            options.depthOnly = true;
        } else
            return false;
    }
    for (const std::string& text : knockTexts) {
        Knock knock;
        if (!sample_scene::parseKnock(text, options.cameras, knock))
            return false;
        options.events.knocks.push_back(knock);
    }
    if (!options.seconds)
        options.seconds =
            options.layout == SampleLayout::Kind::Row ? kRowSecondsPerCamera * options.cameras : kDefaultSeconds;
    return *options.seconds > 0.0 && *options.seconds <= 60.0 && onePerCamera(options.offsetsMs, options.cameras)
        && onePerCamera(options.clockOffsetsMs, options.cameras)
        && onePerCamera(options.depthOffsetsMm, options.cameras)
        && onePerCamera(options.depthScalePercents, options.cameras);
}

// Each camera's value of a per-camera list, 0 where none was given.
double valueOf(const std::vector<double>& values, int camera)
{
    return values.empty() ? 0.0 : values[static_cast<std::size_t>(camera)];
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        console::err("Usage: tavorin-samples [--out FOLDER] "
                     "[--cameras N (2 to 8; default 3)] [--layout around|row|ceiling (default around)] "
                     "[--seconds S (0 < S <= 60; default 4, with --layout row 2 per camera)] "
                     "[--capture-offsets MS,MS,... (one per camera, 0 to 1000 ms; default 0 each)] "
                     "[--clock-offsets MS,MS,... (one per camera, -1000 to 1000 ms its stamps are ahead; default 0 each)] "
                     "[--drop-frames PERCENT (0 to 90; default 0)] "
                     "[--plate-period S (1 to 60 s for one pass of the plate's path; default the recording's length)] "
                     "[--depth-offsets MM,MM,... (one per camera, -50 to 50 mm added to each range; default 0 each)] "
                     "[--depth-scales PERCENT,PERCENT,... (one per camera, -1 to 1 % of each range; default 0 each)] "
                     "[--depth-artefacts (range noise, lost and mixed pixels of a real sensor; default off)] "
                     "[--room furnished (walls, a cabinet, trolleys, a side table and the operating table)] "
                     "[--no-plate] [--changed-room S (from S seconds on the table is pushed aside, a person walks)] "
                     "[--knock CAMERA,S,turn|shift|range,AMOUNT (from S seconds on the camera is turned by AMOUNT "
                     "degrees about a skewed axis through its centre, shifted by AMOUNT mm, or measures AMOUNT mm "
                     "longer; repeatable)] [--depth-only (no colour in the recordings)]");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    std::error_code error;
    std::filesystem::create_directories(options.folder, error);
    if (error) {
        console::err("Unable to create ", options.folder, ": ", error.message());
        return 1;
    }
    const SampleLayout layout(options.layout, options.cameras);
    std::vector<double> offsetsSeconds;
    std::vector<double> clockOffsetsSeconds;
    std::vector<DepthError> depthErrors;
    for (int c = 0; c < options.cameras; ++c) {
        constexpr double kMsPerSecond = 1000.0;
        offsetsSeconds.push_back(valueOf(options.offsetsMs, c) / kMsPerSecond);
        clockOffsetsSeconds.push_back(valueOf(options.clockOffsetsMs, c) / kMsPerSecond);
        depthErrors.push_back(
            {valueOf(options.depthOffsetsMm, c), valueOf(options.depthScalePercents, c) / kPercentPerFraction});
    }
    const bool synchronised =
        std::all_of(offsetsSeconds.begin(), offsetsSeconds.end(), [](double offset) { return offset == 0.0; });
    std::vector<std::vector<int>> slots;
    std::string frames; // "120", or per camera "51, 49, 55"
    for (int c = 0; c < options.cameras; ++c) {
        slots.push_back(keptSlots(static_cast<int>(std::lround(*options.seconds * kFps)), options.dropPercent,
                                  synchronised ? 0u : static_cast<unsigned>(c)));
        if (c == 0 || !synchronised)
            frames += (c == 0 ? "" : ", ") + std::to_string(slots.back().size());
    }
    const double platePeriod = options.platePeriod.value_or(*options.seconds);
    std::vector<SampleCamera> cameras(static_cast<std::size_t>(options.cameras));
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < cameras.size(); ++i)
        workers.emplace_back([&, i] {
            const int index = static_cast<int>(i);
            cameras[i] = makeCamera(layout, index);
            cameras[i].view->setDepthError(depthErrors[i]);
            if (options.events.furnished)
                cameras[i].view->furnish(sample_scene::furnishedRoom());
            if (options.depthArtefacts)
                cameras[i].view->simulateArtefacts();
            const std::string path = options.folder + "/kinect_" + cameras[i].serial + ".h5";
            writeRecording(layout, cameras[i], index, path, slots[i], platePeriod, offsetsSeconds[i],
                           clockOffsetsSeconds[i], options.events, !options.depthOnly);
        });
    for (std::thread& worker : workers)
        worker.join();

    const std::string truthPath = options.folder + "/ground_truth.json";
    nlohmann::json truth = groundTruth(layout, options.folder, slots, platePeriod, offsetsSeconds, clockOffsetsSeconds,
                                       depthErrors, options.depthArtefacts);
    addKnocks(layout, options.events.knocks, truth);
    std::ofstream(truthPath) << truth.dump(2) << "\n";
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    console::out("Wrote ", cameras.size(), " recordings of ", frames, " frames and ", truthPath, " in ", elapsed, " s");
    return 0;
}
