// tavorin-calibrate: the calibration cycle on recordings, without the window. Steps the
// recordings along their common time axis by 1/30 s per step, runs the cycle each step as the
// program does, then reports each camera's matrix and fine-registration residuals and, with
// --truth, its errors against the ground truth.

#include "GroundTruth.h"
#include "StepWatchdog.h"
#include "SteppedRecordingSource.h"

#include "acquisition/CameraConfigFiles.h"
#include "acquisition/DepthCameraData.h"
#include "acquisition/HDF5RecordingReader.h"
#include "app/SceneState.h"
#include "base/Console.h"
#include "calibration/DepthCameraCalibrator.h"
#include "calibration/RoomRegistration.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <optional>
#include <string>
#include <vector>

using tavorin::DepthCameraCalibrator, tavorin::distance, tavorin::dot, tavorin::HDF5RecordingReader, tavorin::inverse,
    tavorin::LatticeDetectionResult, tavorin::length, tavorin::Mat4, tavorin::normalize, tavorin::print,
    tavorin::registrateRoom, tavorin::RegistrationResidual, tavorin::SceneState, tavorin::storeCalibrations,
    tavorin::transpose, tavorin::Vec4;
namespace console = tavorin::console;

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitUnreadable = 2;
constexpr int kExitNoRegistration = 3;
constexpr int kExitStoreFailed = 4;
constexpr double kStepSeconds = 1.0 / 30.0;
constexpr std::size_t kMinRecordings = 2;
constexpr std::size_t kMaxRecordings = 3;
constexpr unsigned kStepLimitSeconds = 30; // opening the recordings, then each step
constexpr const char* kStepStuck = "tavorin-calibrate: opening or stepping the recordings took more than 30 s at once; "
                                   "one of them is damaged. Nothing calibrated.\n";

constexpr const char* kUsage = "usage: tavorin-calibrate [--frames N] [--store] [--room Ax Ay Az Ox Oy Oz Bx By Bz] "
                               "[--truth GROUND_TRUTH.json] REC.h5 REC2.h5 [REC3.h5]";
constexpr const char* kHelp =
    "Runs the calibration cycle over the recordings, stepped by 1/30 s from the first recording's first\n"
    "frame to the last frame of the longest one (or N steps), and prints every camera's matrix.\n"
    "Exit codes: 0 calibrated (and stored with --store); 1 wrong arguments; 2 a recording or the ground\n"
    "truth cannot be read, a recording stopped playing, opening or one step took more than 30 s, or the\n"
    "timeline needs more than 4 steps per frame; 3 no usable registration (the lattice was never found,\n"
    "or a camera has no registration inliers; nothing is stored); 4 a configuration file was not written.";

struct Options {
    bool help = false;
    std::optional<long> frames;
    bool store = false;
    std::optional<std::array<Vec4, 3>> room; // A, O, B
    std::optional<std::string> truthPath;
    std::vector<std::string> recordings;
};

std::optional<float> number(const char* text)
{
    char* end = nullptr;
    const float value = std::strtof(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long> positiveCount(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < 1)
        return std::nullopt;
    return value;
}

std::optional<Options> parseOptions(int argc, char** argv)
{
    constexpr int kRoomNumbers = 9;
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return options;
        }
        if (arg == "--frames" && i + 1 < argc) {
            options.frames = positiveCount(argv[++i]);
            if (!options.frames)
                return std::nullopt;
        } else if (arg == "--store") {
            options.store = true;
        } else if (arg == "--room" && i + kRoomNumbers < argc) {
            std::array<float, kRoomNumbers> v{};
            for (float& value : v) {
                const std::optional<float> n = number(argv[++i]);
                if (!n)
                    return std::nullopt;
                value = *n;
            }
            options.room = std::array<Vec4, 3>{Vec4::point(v[0], v[1], v[2]), Vec4::point(v[3], v[4], v[5]),
                                               Vec4::point(v[6], v[7], v[8])};
        } else if (arg == "--truth" && i + 1 < argc) {
            options.truthPath = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            return std::nullopt;
        } else {
            options.recordings.push_back(arg);
        }
    }
    if (options.recordings.size() < kMinRecordings || options.recordings.size() > kMaxRecordings)
        return std::nullopt;
    return options;
}

// Whether the whole plate is in front of the camera, facing it within 50 degrees, 1.1 to 2.2 m
// away and inside a field of view a little narrower than the sensor's 75 x 65 degrees.
bool plateFacesCamera(const GroundTruth::PlateFrame& plate, float plateSize, const Mat4& T_room_camera)
{
    constexpr float kMaxFacingDegrees = 50.0f;
    constexpr float kMinDistance = 1.1f;
    constexpr float kMaxDistance = 2.2f;
    constexpr float kHalfFovXDegrees = 35.0f;
    constexpr float kHalfFovYDegrees = 28.0f;
    constexpr float kDegree = 3.14159265358979f / 180.0f;
    const Vec4 toCamera = T_room_camera.translation() - plate.centre;
    const float range = length(toCamera);
    if (range < kMinDistance || range > kMaxDistance)
        return false;
    if (std::fabs(dot(normalize(toCamera), normalize(plate.normal))) < std::cos(kMaxFacingDegrees * kDegree))
        return false;
    const Mat4 T_camera_room = inverse(T_room_camera);
    const float half = plateSize / 2.0f;
    for (const float a : {-half, half}) {
        for (const float b : {-half, half}) {
            const Vec4 p = T_camera_room * (plate.centre + plate.u * a + plate.v * b);
            if (p.z <= 0.0f || std::fabs(p.x / p.z) > std::tan(kHalfFovXDegrees * kDegree)
                || std::fabs(p.y / p.z) > std::tan(kHalfFovYDegrees * kDegree))
                return false;
        }
    }
    return true;
}

struct DetectionCounts {
    long found = 0;           // steps in which the lattice was found
    long eligible = 0;        // steps in which the plate faced the camera (needs ground truth)
    long foundWhenEligible = 0;
};

// Angle of the rotation between a and b; atan2 keeps small angles where acos of the trace
// loses them to rounding.
double rotationErrorDegrees(const Mat4& a, const Mat4& b)
{
    const Mat4 d = transpose(a) * b;
    const double trace = static_cast<double>(d.at(0, 0)) + d.at(1, 1) + d.at(2, 2);
    const double sx = static_cast<double>(d.at(1, 2)) - d.at(2, 1);
    const double sy = static_cast<double>(d.at(2, 0)) - d.at(0, 2);
    const double sz = static_cast<double>(d.at(0, 1)) - d.at(1, 0);
    return std::atan2(std::sqrt(sx * sx + sy * sy + sz * sz), trace - 1.0) * 180.0 / 3.14159265358979323846;
}

// Camera i's expected matrix into camera 0's coordinates, from the truth's room poses when it has
// them, else from its matrices relative to its own camera 0.
std::optional<Mat4> expectedRelativeMatrix(const GroundTruth& truth, const std::vector<std::string>& paths,
                                           std::size_t i)
{
    const GroundTruth::Camera* reference = truth.cameraFor(paths[0], 0);
    const GroundTruth::Camera* camera = truth.cameraFor(paths[i], i);
    if (!reference || !camera)
        return std::nullopt;
    if (reference->T_room_camera && camera->T_room_camera)
        return inverse(*reference->T_room_camera) * *camera->T_room_camera;
    if (reference->T_camera0_camera && camera->T_camera0_camera)
        return inverse(*reference->T_camera0_camera) * *camera->T_camera0_camera;
    return std::nullopt;
}

void countDetections(const DepthCameraCalibrator& calibrator, const SteppedRecordingSource& source,
                     const std::optional<GroundTruth>& truth, const std::vector<std::string>& paths,
                     std::vector<DetectionCounts>& counts)
{
    const std::vector<LatticeDetectionResult>& detections = calibrator.lastDetections();
    for (std::size_t i = 0; i < detections.size() && i < counts.size(); ++i) {
        const bool found = detections[i].found;
        counts[i].found += found ? 1 : 0;
        if (!truth)
            continue;
        const GroundTruth::Camera* camera = truth->cameraFor(paths[i], i);
        const GroundTruth::PlateFrame* plate = truth->plateAt(source.recordingReaders()[i]->currentTimestamp());
        if (camera && camera->T_room_camera && plate && plateFacesCamera(*plate, truth->plateSize, *camera->T_room_camera)) {
            ++counts[i].eligible;
            counts[i].foundWhenEligible += found ? 1 : 0;
        }
    }
}

// Steps of 1/30 s from the first recording's first frame to the last frame of the longest one,
// or --frames. A plan of more than a few steps per frame of the longest recording (timestamps
// far apart, recordings on unrelated clocks) is refused with a message: it would run for hours
// over a handful of frames.
std::optional<long> stepPlan(const Options& options, const SteppedRecordingSource& source)
{
    constexpr double kMaxStepsPerFrame = 4.0;
    std::uint32_t frames = 0;
    for (const std::shared_ptr<HDF5RecordingReader>& reader : source.recordingReaders())
        frames = std::max(frames, reader->frameCount());
    const double limit = kMaxStepsPerFrame * static_cast<double>(frames);
    const double span = source.endTime() - source.startTime();
    const double steps =
        options.frames ? static_cast<double>(*options.frames) : std::floor(span / kStepSeconds + 1e-6) + 1.0;
    if (std::isfinite(steps) && steps >= 1.0 && steps <= limit)
        return static_cast<long>(steps);
    console::err("tavorin-calibrate: ", steps, " steps of 1/30 s (", span, " s of timestamps) for ", frames,
                 " frames; at most ", limit, " are stepped. Nothing calibrated.");
    return std::nullopt;
}

bool anyPlaybackStopped(const SteppedRecordingSource& source)
{
    const auto& readers = source.recordingReaders();
    return std::any_of(readers.begin(), readers.end(), [](const auto& reader) { return reader->playbackStopped(); });
}

// Every camera needs inliers of the fine registration for its matrix to mean anything.
bool registrationUsable(const std::vector<RegistrationResidual>& residuals, std::size_t cameras)
{
    return residuals.size() == cameras
        && std::all_of(residuals.begin(), residuals.end(), [](const RegistrationResidual& r) { return r.inlierCount > 0; });
}

void reportCameras(const SceneState& state, const std::vector<RegistrationResidual>& residuals,
                   const std::vector<DetectionCounts>& counts, long steps)
{
    for (std::size_t i = 0; i < state.cameras.size(); ++i) {
        print("Camera " + std::to_string(i) + " " + state.cameras[i]->sourceName, state.cameras[i]->modelMatrix);
        std::ostringstream line;
        line << "Camera " << i << ": lattice found in " << counts[i].found << " of " << steps << " steps";
        if (counts[i].eligible > 0)
            line << ", in " << counts[i].foundWhenEligible << " of " << counts[i].eligible << " ("
                 << 100.0 * static_cast<double>(counts[i].foundWhenEligible) / static_cast<double>(counts[i].eligible)
                 << " %) steps with the whole plate facing it";
        console::out(line.str());
        if (i < residuals.size())
            console::out("Camera ", i, ": fine registration inliers ", residuals[i].inlierCount, ", RMS ",
                         residuals[i].inlierRms * 1000.0, " mm");
    }
}

// With the truth: each camera's calibrated transform into camera 0 against the expected one.
void reportErrors(const DepthCameraCalibrator& calibrator, const GroundTruth& truth,
                  const std::vector<std::string>& paths)
{
    double maxRotation = 0.0;
    double maxTranslation = 0.0;
    const std::vector<Mat4>& transforms = calibrator.transforms();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::optional<Mat4> expected = expectedRelativeMatrix(truth, paths, i);
        if (!expected || i >= transforms.size()) {
            console::out("Camera ", i, ": no ground truth or no registration to compare");
            maxRotation = maxTranslation = INFINITY;
            continue;
        }
        const double rotation = rotationErrorDegrees(transforms[i], *expected);
        const double translation = 1000.0 * distance(transforms[i].translation(), expected->translation());
        console::out("Camera ", i, ": rotation error ", rotation, " deg, translation error ", translation, " mm");
        maxRotation = std::max(maxRotation, rotation);
        maxTranslation = std::max(maxTranslation, translation);
    }
    console::out("max rotation error ", maxRotation, " deg, max translation error ", maxTranslation, " mm");
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        console::err(kUsage);
        return kExitUsage;
    }
    if (options->help) {
        console::out(kUsage, "\n", kHelp);
        return 0;
    }
    std::optional<GroundTruth> truth;
    if (options->truthPath) {
        truth = loadGroundTruth(*options->truthPath);
        if (!truth)
            return kExitUnreadable;
    }
    auto source = std::make_shared<SteppedRecordingSource>();
    StepWatchdog::arm(kStepLimitSeconds, kStepStuck, kExitUnreadable);
    if (!source->open(options->recordings)) {
        console::err("tavorin-calibrate: a recording cannot be read; nothing calibrated.");
        return kExitUnreadable;
    }
    const std::optional<long> steps = stepPlan(*options, *source);
    if (!steps)
        return kExitUnreadable;

    SceneState state;
    state.depthSource = source;
    DepthCameraCalibrator calibrator;
    std::vector<DetectionCounts> counts(options->recordings.size());
    long apart = 0; // steps whose frames were not taken together
    for (long step = 0; step < *steps; ++step) {
        StepWatchdog::arm(kStepLimitSeconds, kStepStuck, kExitUnreadable);
        const double t = source->startTime() + static_cast<double>(step) * kStepSeconds;
        source->step(t);
        if (anyPlaybackStopped(*source)) {
            console::err("tavorin-calibrate: a recording stopped playing at step ", step, "; nothing calibrated.");
            return kExitUnreadable;
        }
        if (!source->framesTakenTogether(t)) {
            ++apart;
            continue;
        }
        source->process(state);
        calibrator.calibrateDepthCameras(state);
        countDetections(calibrator, *source, truth, options->recordings, counts);
    }
    StepWatchdog::disarm();
    if (apart > 0)
        console::out("Skipped ", apart, " of ", *steps, " steps whose frames were not taken within half a frame of each other");
    const bool anyLattice = std::any_of(counts.begin(), counts.end(), [](const DetectionCounts& c) { return c.found > 0; });
    if (!anyLattice) {
        console::err("tavorin-calibrate: the lattice was not found in any of ", *steps, " steps; nothing calibrated.");
        return kExitNoRegistration;
    }

    source->process(state);
    if (options->room) {
        registrateRoom(state.cameras, source.get(), *options->room);
        source->process(state);
    }
    const std::vector<RegistrationResidual> residuals = calibrator.fineRegistration().residuals(
        calibrator.transforms(), 0, calibrator.registrationInlierThreshold());
    reportCameras(state, residuals, counts, *steps);
    if (!registrationUsable(residuals, state.cameras.size())) {
        console::err("tavorin-calibrate: a camera has no registration inliers; nothing usable calibrated.");
        return kExitNoRegistration;
    }
    if (options->store && !storeCalibrations(state)) {
        console::err("tavorin-calibrate: not every configuration file was written.");
        return kExitStoreFailed;
    }
    if (truth)
        reportErrors(calibrator, *truth, options->recordings);
    return 0;
}
