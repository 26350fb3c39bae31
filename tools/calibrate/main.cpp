// tavorin-calibrate: the calibration cycle on recordings, without the window. Steps the
// recordings along their common time axis from one capture of the first recording to the next,
// runs the cycle each step as the program does, then the joint estimate of every camera, and
// reports each camera's matrix, residual, 1 sigma and depth error and, with --truth, its errors
// against the ground truth.

#include "DetectionPipeline.h"
#include "GroundTruth.h"
#include "HelpOption.h"
#include "RecordingArguments.h"
#include "RecordingStillView.h"
#include "StepWatchdog.h"
#include "SteppedRecordingSource.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "acquisition/recording/HDF5RecordingReader.h"
#include "app/StillViewCheck.h"
#include "base/Console.h"
#include "calibration/quality/CalibrationQuality.h"
#include "calibration/cycle/DepthCameraCalibrator.h"
#include "calibration/joint/CameraTrust.h"
#include "calibration/registration/RoomRegistration.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <cstdlib>
#include <iomanip>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using tavorin::DepthCameraCalibrator, tavorin::DepthCameraData, tavorin::distance, tavorin::dot, tavorin::HDF5RecordingReader, tavorin::inverse,
    tavorin::LatticeDetectionResult, tavorin::length, tavorin::Mat4, tavorin::normalize, tavorin::print,
    tavorin::registrateRoom, tavorin::RegistrationResidual, tavorin::SceneState, tavorin::storeCalibrations,
    tavorin::transpose, tavorin::Vec4;
namespace console = tavorin::console;
using recording_tool::kExitStoreFailed, recording_tool::kExitUnreadable, recording_tool::kExitUsage,
    recording_tool::kMaxRecordings, recording_tool::kStepLimitSeconds;

namespace {

constexpr int kExitNoRegistration = 3;
constexpr int kExitSomeNotCalibrated = 5;
constexpr std::size_t kMinRecordings = 2;
constexpr const char* kStepStuck = "tavorin-calibrate: opening or stepping the recordings took more than 30 s at once; "
                                   "one of them is damaged. Nothing calibrated.\n";

constexpr const char* kUsage = "usage: tavorin-calibrate [--frames N] [--store] [--room Ax Ay Az Ox Oy Oz Bx By Bz] "
                               "[--truth GROUND_TRUTH.json] REC.h5 REC2.h5 [REC3.h5 ...]";
constexpr const char* kHelp =
    "Runs the calibration cycle over the recordings (2 to 32), stepped on the capture times of the first\n"
    "recording's frames (all of them, or the first N, up to the end of the shortest recording), then the\n"
    "joint estimate of every camera's pose and depth error, and prints the matrix, 1 sigma and\n"
    "\"Depth error of camera <i>: <offset> mm, <scale> %\" of every camera it trusts, and for every other\n"
    "camera why it is not calibrated. A camera is trusted when the estimate converged and fits 80 % of its\n"
    "holes, its views settle which face and quarter turn of the plate it saw, it saw the plate in 10 frame\n"
    "sets, its hole residual is within 3 mm and its 1 sigma within 3 mm and 0.2 degrees (the window's rule).\n"
    "The other cameras' observations are brought to those instants from their own capture times. The\n"
    "cameras are placed in camera 0's stored frame when its configuration file holds one (a room\n"
    "registration stays), else in camera 0's coordinates. The estimate works on the depths as the sensors\n"
    "measured them (a stored depth correction is put back first), so each sensor's whole error is reported\n"
    "and stored.\n"
    "--room takes the floor rectangle's Point 0 (A), corner (O) and Point 2 (B) in camera 0's own\n"
    "coordinates (metres); they must span a right angle (90 +- 5 degrees) with edges of 5 cm or more.\n"
    "Each recording, and each camera, may be given once. --store stores the trusted cameras only, keeps the\n"
    "files it replaces as <file>.<date>_<time>.bak beside them, stores beside each matrix the reference of\n"
    "what the camera saw stay still (<file stem>.still.bin, for tavorin-check), and stores the cameras of recordings made\n"
    "by tavorin-record --network also as those network cameras (config/cameras/ros/<namespace>.json), for\n"
    "tavorin-tf.\n"
    "Exit codes: 0 every camera calibrated (and stored with --store); 1 wrong arguments; 2 a recording or\n"
    "the ground truth cannot be read, a recording stopped playing, or opening or one step took more than\n"
    "30 s; 3 no usable registration (the lattice was never found, or no camera but camera 0 can be\n"
    "trusted; nothing is stored); 4 a configuration file was not written; 5 the cameras named as not\n"
    "calibrated are not (their files stay as they were), the others are calibrated (and stored).";

struct Options {
    std::optional<long> frames;
    bool store = false;
    std::optional<std::array<Vec4, 3>> room; // A, O, B
    std::optional<std::string> truthPath;
    std::vector<std::string> recordings;
};

// The options, or nothing after a line that says what is wrong with them.
std::optional<Options> parseOptions(int argc, char** argv)
{
    constexpr int kRoomNumbers = 9;
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--frames" && i + 1 < argc) {
            options.frames = positiveCount(argv[++i]);
            if (!options.frames) {
                console::err("tavorin-calibrate: --frames wants a whole number from 1 to ",
                             std::numeric_limits<long>::max(), ", not \"", argv[i], "\".");
                return std::nullopt;
            }
        } else if (arg == "--store") {
            options.store = true;
        } else if (arg == "--room" && i + kRoomNumbers < argc) {
            std::array<float, kRoomNumbers> v{};
            for (float& value : v) {
                const std::optional<float> n = finiteNumber(argv[++i]);
                if (!n) {
                    console::err("tavorin-calibrate: --room wants nine finite numbers (metres), not \"", argv[i], "\".");
                    return std::nullopt;
                }
                value = *n;
            }
            options.room = std::array<Vec4, 3>{Vec4::point(v[0], v[1], v[2]), Vec4::point(v[3], v[4], v[5]),
                                               Vec4::point(v[6], v[7], v[8])};
        } else if (arg == "--truth" && i + 1 < argc) {
            options.truthPath = argv[++i];
        } else if (!arg.empty() && arg[0] == '-') {
            console::err("tavorin-calibrate: ", arg, " is not an option, or lacks its values.");
            return std::nullopt;
        } else {
            options.recordings.push_back(arg);
        }
    }
    if (options.recordings.size() < kMinRecordings || options.recordings.size() > kMaxRecordings) {
        console::err("tavorin-calibrate: ", options.recordings.size(), " recordings given; it takes 2 or 3.");
        return std::nullopt;
    }
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

void countDetections(const DepthCameraCalibrator& calibrator, const std::vector<double>& timestamps,
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
        const GroundTruth::PlateFrame* plate = camera ? truth->plateAt(timestamps[i] - camera->clockOffsetSeconds) : nullptr;
        if (camera && camera->T_room_camera && plate && plateFacesCamera(*plate, truth->plateSize, *camera->T_room_camera)) {
            ++counts[i].eligible;
            counts[i].foundWhenEligible += found ? 1 : 0;
        }
    }
}

// One step per frame of the first recording, or its first --frames frames, up to the last one
// that every other recording can still answer: a step more than three frame periods after a
// recording's last frame would only search that frame again (a recording that claims far more
// frames than the others hold would step for hours).
long stepPlan(const Options& options, const SteppedRecordingSource& source)
{
    constexpr double kReachSeconds = 0.1;
    const auto& readers = source.recordingReaders();
    const HDF5RecordingReader& reference = *readers.front();
    long steps = static_cast<long>(reference.frameCount());
    if (options.frames)
        steps = std::min(*options.frames, steps);
    const HDF5RecordingReader* shortest = nullptr;
    double end = INFINITY;
    for (std::size_t i = 1; i < readers.size(); ++i) {
        const double last = readers[i]->timestampAt(readers[i]->frameCount() - 1) + kReachSeconds;
        if (last < end) {
            end = last;
            shortest = readers[i].get();
        }
    }
    long reachable = steps;
    while (reachable > 0 && reference.timestampAt(static_cast<std::uint32_t>(reachable - 1)) > end)
        --reachable;
    if (reachable < steps)
        console::out("Stepping ends after ", reachable, " of ", steps, " steps, at ",
                     reachable > 0 ? reference.timestampAt(static_cast<std::uint32_t>(reachable - 1)) : 0.0,
                     " s: ", shortest->fileName(), " has no frame after ", end - kReachSeconds, " s.");
    return reachable;
}

// The reference recording's timestamps of the steps.
std::vector<double> stepTimes(const SteppedRecordingSource& source, long steps)
{
    std::vector<double> times;
    for (long step = 0; step < steps; ++step)
        times.push_back(source.recordingReaders().front()->timestampAt(static_cast<std::uint32_t>(step)));
    return times;
}

// The frames of the other recordings between two steps (where the first recording missed a frame)
// go to the timeline in order before the step's own: an unsynchronised camera's plate is brought to
// a step's instant from its two consecutive frames around it, and those may fall on either side of
// the gap. A recording without such a frame gives its newest capture time again, which adds nothing.
void addFramesBetweenSteps(DepthCameraCalibrator& calibrator, const DetectionPipeline::Step& step,
                           const SceneState& state)
{
    std::vector<double> timestamps;
    for (const auto& record : state.cameras)
        timestamps.push_back(record->timestamp.value_or(0.0));
    std::size_t most = 0;
    for (const auto& frames : step.between)
        most = std::max(most, frames.size());
    for (std::size_t k = 0; k < most; ++k) {
        std::vector<LatticeDetectionResult> detections(timestamps.size());
        for (std::size_t i = 0; i < timestamps.size() && i < step.between.size(); ++i)
            if (k < step.between[i].size()) {
                timestamps[i] = step.between[i][k].timestamp;
                detections[i] = step.between[i][k].detection;
            }
        calibrator.addTimelineFrames(timestamps, detections);
    }
}

// The records the registration needs from each recording: its name, the depth correction its
// reader removes from the points it searches (the estimate puts it back, so that it works on what
// the sensor measured and finds the sensor's whole error) and, per step, the capture time.
std::vector<std::shared_ptr<DepthCameraData>> cycleRecords(const SteppedRecordingSource& source)
{
    std::vector<std::shared_ptr<DepthCameraData>> records;
    for (const auto& reader : source.recordingReaders()) {
        auto record = std::make_shared<DepthCameraData>();
        record->sourceName = reader->fileName();
        record->removedDepthCorrection = reader->removedDepthCorrection();
        records.push_back(std::move(record));
    }
    return records;
}

std::string signedFixed(double value, int decimals)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << std::showpos << value;
    return text.str();
}

// Beside each stored matrix, what the estimate said of it, as the window's save keeps it.
void storeRecords(const SceneState& state, const tavorin::JointEstimate& estimate,
                  const std::vector<tavorin::CameraTrust>& trust, const std::vector<tavorin::PlateCoverage>& coverage)
{
    char storedAt[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    if (localtime_r(&now, &local))
        std::strftime(storedAt, sizeof storedAt, "%Y-%m-%d %H:%M", &local);
    for (std::size_t i = 0; i < state.cameras.size() && i < estimate.cameras.size(); ++i) {
        const tavorin::JointCameraEstimate& camera = estimate.cameras[i];
        if (!trust[i].trusted || state.cameras[i]->configPath.empty())
            continue;
        tavorin::RegistrationProgress progress;
        progress.reference = i == 0;
        progress.calibrated = true;
        progress.framesFound = camera.frameSets;
        progress.rmsMm = camera.holeRmsMm;
        progress.sigmaMm = camera.sigmaTranslationMm;
        progress.sigmaDeg = camera.sigmaRotationDeg;
        const double share = i < coverage.size() ? coverage[i].coveredShare() : 0.0;
        const std::string verdict = tavorin::verdictName(tavorin::calibrationVerdict(progress, share, true));
        tavorin::CalibrationRecord record;
        record.storedAt = storedAt;
        record.rmsMm = camera.holeRmsMm;
        record.sigmaMm = camera.sigmaTranslationMm;
        record.sigmaDeg = camera.sigmaRotationDeg;
        record.verdict = progress.reference ? "reference, " + verdict : verdict;
        tavorin::storeCalibrationRecord(state.cameras[i]->configPath, record);
    }
}

// Beside each stored matrix, the reference of what the camera saw stay still over the recording,
// for tavorin-check and the window's check; under every file the matrix was stored to.
bool storeStillViews(const std::vector<const SceneState*>& stores, const SteppedRecordingSource& source,
                     const tavorin::JointEstimate& estimate, const std::vector<tavorin::CameraTrust>& trust)
{
    bool allWritten = true;
    const auto& readers = source.recordingReaders();
    for (std::size_t i = 0; i < readers.size(); ++i) {
        if (!trust[i].trusted)
            continue;
        const std::optional<tavorin::DepthStack> stack = spreadFrames(*readers[i], tavorin::kStillViewFrames);
        const std::optional<tavorin::CameraStillView> still =
            stack ? std::optional(tavorin::cameraStillView(*stack)) : std::nullopt;
        for (const SceneState* store : stores) {
            const std::string& path = store->cameras[i]->configPath;
            if (!path.empty())
                allWritten = still && tavorin::storeStillView(path, *still, estimate.cameras[i].depthError) && allWritten;
        }
    }
    return allWritten;
}

// Each camera's matrix, only where the trust rule stands behind it; a camera it does not trust is
// named with the reason instead.
void reportCameras(const SceneState& state, const tavorin::JointEstimate& estimate,
                   const std::vector<tavorin::CameraTrust>& trust, const std::vector<DetectionCounts>& counts, long steps)
{
    for (std::size_t i = 0; i < state.cameras.size(); ++i) {
        if (trust[i].trusted)
            print("Camera " + std::to_string(i) + " " + state.cameras[i]->sourceName, state.cameras[i]->modelMatrix);
        std::ostringstream line;
        line << "Camera " << i << ": lattice found in " << counts[i].found << " of " << steps << " steps";
        if (counts[i].eligible > 0)
            line << ", in " << counts[i].foundWhenEligible << " of " << counts[i].eligible << " ("
                 << 100.0 * static_cast<double>(counts[i].foundWhenEligible) / static_cast<double>(counts[i].eligible)
                 << " %) steps with the whole plate facing it";
        console::out(line.str());
        const tavorin::JointCameraEstimate& camera = estimate.cameras[i];
        if (!trust[i].trusted) {
            console::out("Camera ", i, " is not calibrated: ", trust[i].why, "; ",
                         i == 0 ? "its depth correction stays as it was." : "it keeps its matrix.");
            continue;
        }
        std::ostringstream fit;
        fit << std::fixed << "Camera " << i << ": hole residual RMS " << std::setprecision(2) << camera.holeRmsMm
            << " mm over " << camera.holeCount << " holes (" << std::setprecision(0) << 100.0 * camera.holeInlierShare
            << " % within reach) in " << camera.frameSets << " frame sets; 1 sigma "
            << std::setprecision(4) << camera.sigmaRotationDeg << " deg, " << std::setprecision(3)
            << camera.sigmaTranslationMm << " mm";
        console::out(fit.str());
    }
}

// Calls report(i, camera) for each camera the trust rule accepted, in camera order.
template <typename Report>
void forEachTrusted(const tavorin::JointEstimate& estimate, const std::vector<tavorin::CameraTrust>& trust,
                    Report report)
{
    for (std::size_t i = 0; i < estimate.cameras.size(); ++i)
        if (trust[i].trusted)
            report(i, estimate.cameras[i]);
}

// One line per calibrated camera: what its sensor adds to the range (the format the README
// gives), then the same at the plate's mean distance with its 1 sigma.
void reportDepthErrors(const tavorin::JointEstimate& estimate, const std::vector<tavorin::CameraTrust>& trust)
{
    forEachTrusted(estimate, trust, [](std::size_t i, const tavorin::JointCameraEstimate& camera) {
        console::out("Depth error of camera ", i, ": ", signedFixed(camera.depthError.offsetMm, 1), " mm, ",
                     signedFixed(camera.depthError.scale * 100.0, 3), " %");
        std::ostringstream at;
        at << std::fixed << std::setprecision(2) << "Camera " << i << ": depth error at its mean plate distance "
           << camera.meanPlateDistanceM << " m " << signedFixed(camera.depthError.errorMmAt(camera.meanPlateDistanceM), 2)
           << " mm, 1 sigma " << camera.sigmaDepthMm << " mm";
        console::out(at.str());
    });
}

// One line per calibrated camera: how far its stamps are ahead of camera 0's clock (the format the
// README gives), then its 1 sigma; or why the plate's motion did not tell it.
void reportClockOffsets(const tavorin::JointEstimate& estimate, const std::vector<tavorin::CameraTrust>& trust)
{
    forEachTrusted(estimate, trust, [](std::size_t i, const tavorin::JointCameraEstimate& camera) {
        if (!camera.clockOffsetObservable) {
            console::out("Clock offset of camera ", i, ": not observable, ", camera.clockOffsetWhy,
                         "; its stamps are taken as they are");
            return;
        }
        constexpr double kHalfTenthMs = 0.05; // prints as +0.0, not -0.0
        const double ms = camera.clockOffsetSeconds * 1000.0;
        console::out("Clock offset of camera ", i, ": ", signedFixed(std::fabs(ms) < kHalfTenthMs ? 0.0 : ms, 1), " ms");
        if (i > 0) {
            std::ostringstream sigma;
            sigma << std::fixed << std::setprecision(2) << "Camera " << i << ": clock offset 1 sigma "
                  << camera.sigmaClockOffsetMs << " ms";
            console::out(sigma.str());
        }
    });
}

void reportFrameSets(const tavorin::ObservationTimeline& timeline)
{
    console::out("Frame sets with the lattice in camera 0: ", timeline.resolvedCount(), " brought to its capture times, ",
                 timeline.unresolvedCount(), " with a camera left out (its frames around it missing or too far apart)");
}

// With the truth: each camera's calibrated transform into camera 0 against the expected one, and
// its depth error against the one the truth applied, both beside their 1 sigma.
void reportErrors(const tavorin::JointEstimate& estimate, const std::vector<tavorin::CameraTrust>& trust,
                  const GroundTruth& truth, const std::vector<std::string>& paths)
{
    double maxRotation = 0.0;
    double maxTranslation = 0.0;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::optional<Mat4> expected = expectedRelativeMatrix(truth, paths, i);
        const tavorin::JointCameraEstimate& camera = estimate.cameras[i];
        if (!expected || !trust[i].trusted) {
            console::out("Camera ", i, ": no ground truth or no calibration to compare");
            maxRotation = maxTranslation = INFINITY;
            continue;
        }
        const double rotation = rotationErrorDegrees(camera.T_camera0_camera, *expected);
        const double translation = 1000.0 * distance(camera.T_camera0_camera.translation(), expected->translation());
        console::out("Camera ", i, ": rotation error ", rotation, " deg, translation error ", translation,
                     " mm (1 sigma ", camera.sigmaRotationDeg, " deg, ", camera.sigmaTranslationMm, " mm)");
        const GroundTruth::Camera* truthCamera = truth.cameraFor(paths[i], i);
        if (truthCamera && truthCamera->depthError) {
            const double at = camera.meanPlateDistanceM;
            console::out("Camera ", i, ": depth error at ", at, " m ", camera.depthError.errorMmAt(at), " mm, true ",
                         truthCamera->depthError->errorMmAt(at), " mm (1 sigma ", camera.sigmaDepthMm, " mm)");
        }
        const GroundTruth::Camera* truthCamera0 = truth.cameraFor(paths.front(), 0);
        if (truthCamera && truthCamera0 && camera.clockOffsetObservable)
            console::out("Camera ", i, ": clock offset ", camera.clockOffsetSeconds * 1000.0, " ms, true ",
                         (truthCamera->clockOffsetSeconds - truthCamera0->clockOffsetSeconds) * 1000.0,
                         " ms (1 sigma ", camera.sigmaClockOffsetMs, " ms)");
        maxRotation = std::max(maxRotation, rotation);
        maxTranslation = std::max(maxTranslation, translation);
    }
    console::out("max rotation error ", maxRotation, " deg, max translation error ", maxTranslation, " mm");
}

// The cameras recorded from the network (tavorin-record --network) as those network cameras: the
// same records under config/cameras/ros/<namespace>.json, so that the network source and
// tavorin-tf take their calibration. The others, and the cameras not calibrated, have no
// configuration path; the list keeps the recordings' order (camera 0 first), as storing needs.
std::vector<std::shared_ptr<DepthCameraData>> asNetworkCameras(const SceneState& state,
                                                               const SteppedRecordingSource& source,
                                                               const std::vector<tavorin::CameraTrust>& trust)
{
    std::vector<std::shared_ptr<DepthCameraData>> copies;
    for (std::size_t i = 0; i < state.cameras.size(); ++i) {
        auto copy = std::make_shared<DepthCameraData>(*state.cameras[i]);
        const std::string& nameSpace = source.recordingReaders()[i]->rosNamespace();
        const bool networkCamera = !nameSpace.empty() && trust[i].trusted;
        copy->configPath = networkCamera ? tavorin::networkCameraConfigPath(nameSpace) : std::string();
        copies.push_back(std::move(copy));
    }
    return copies;
}

// The frame the cameras are placed in: camera 0's stored matrix, so that a room registration it
// holds survives a new calibration, or camera 0's own coordinates without one. Says which.
Mat4 startingFrame(const HDF5RecordingReader& camera0)
{
    const Mat4 stored = camera0.modelMatrix();
    if (stored == Mat4::identity())
        console::out("Camera 0 stays at the identity: the cameras are placed in camera 0's coordinates.");
    else
        console::out("Camera 0 keeps its stored matrix from ", camera0.configPath(),
                     ": the cameras are placed in the frame it holds (a room registration stays).");
    return stored;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = recordingOptionsOrExit<Options>(argc, argv, parseOptions, kUsage, kHelp, kExitUsage,
                                                           "tavorin-calibrate", "calibrated");
    if (options.room) {
        const std::string fault = tavorin::roomPointsFault(*options.room);
        if (!fault.empty()) {
            console::err("tavorin-calibrate: --room refused: ", fault, ". Nothing calibrated.");
            return kExitUsage;
        }
    }
    std::optional<GroundTruth> truth;
    if (options.truthPath) {
        truth = loadGroundTruth(*options.truthPath);
        if (!truth)
            return kExitUnreadable;
    }
    auto source = std::make_shared<SteppedRecordingSource>();
    StepWatchdog::arm(kStepLimitSeconds, kStepStuck, kExitUnreadable);
    if (!source->open(options.recordings)) {
        console::err("tavorin-calibrate: a recording cannot be read; nothing calibrated.");
        return kExitUnreadable;
    }
    const Mat4 T_base_camera0 = startingFrame(*source->recordingReaders().front());
    const long steps = stepPlan(options, *source);

    SceneState state;
    DepthCameraCalibrator calibrator;
    std::vector<DetectionCounts> counts(options.recordings.size());
    {
        // The registration takes the steps in order while the recordings load and search ahead;
        // the matrices reach the readers once the pipeline has let go of them.
        DetectionPipeline pipeline(source->recordingReaders(), stepTimes(*source, steps));
        state.cameras = cycleRecords(*source);
        for (long step = 0; step < steps; ++step) {
            StepWatchdog::arm(kStepLimitSeconds, kStepStuck, kExitUnreadable);
            DetectionPipeline::Step searched = pipeline.next();
            if (searched.stopped) {
                console::err("tavorin-calibrate: a recording stopped playing at step ", step, "; nothing calibrated.");
                return kExitUnreadable;
            }
            addFramesBetweenSteps(calibrator, searched, state);
            for (std::size_t i = 0; i < state.cameras.size(); ++i)
                state.cameras[i]->timestamp = searched.timestamps[i];
            calibrator.registerDetections(std::move(searched.detections), state);
            countDetections(calibrator, searched.timestamps, truth, options.recordings, counts);
        }
    }
    StepWatchdog::disarm();
    const bool anyLattice = std::any_of(counts.begin(), counts.end(), [](const DetectionCounts& c) { return c.found > 0; });
    if (!anyLattice) {
        console::err("tavorin-calibrate: the lattice was not found in any of ", steps, " steps; nothing calibrated.");
        return kExitNoRegistration;
    }
    const tavorin::JointEstimate estimate = calibrator.jointCalibration().solve();
    std::vector<tavorin::CameraTrust> trust;
    for (std::size_t i = 0; i < estimate.cameras.size(); ++i)
        trust.push_back(tavorin::trustOf(estimate, i));
    const std::size_t trustedOthers =
        static_cast<std::size_t>(std::count_if(trust.begin() + 1, trust.end(), [](const auto& t) { return t.trusted; }));
    if (trustedOthers == 0) {
        reportCameras(state, estimate, trust, counts, steps);
        reportFrameSets(calibrator.timeline());
        console::err("tavorin-calibrate: no camera but camera 0 can be trusted (named above with the reason); nothing ",
                     options.store ? "stored." : "calibrated.");
        return kExitNoRegistration;
    }
    const auto& readers = source->recordingReaders();
    for (std::size_t i = 0; i < readers.size(); ++i) {
        if (!trust[i].trusted)
            continue;
        source->setModelMatrix(readers[i]->fileName(), T_base_camera0 * estimate.cameras[i].T_camera0_camera);
        source->setDepthCorrection(readers[i]->fileName(), estimate.cameras[i].depthError);
    }
    source->process(state);
    if (options.room) {
        std::array<Vec4, 3> drawn;
        for (std::size_t i = 0; i < drawn.size(); ++i)
            drawn[i] = tavorin::T_drawn_camera0(state.cameras) * (*options.room)[i];
        registrateRoom(state.cameras, source.get(), drawn);
        source->process(state);
    }
    reportCameras(state, estimate, trust, counts, steps);
    reportFrameSets(calibrator.timeline());
    reportDepthErrors(estimate, trust);
    reportClockOffsets(estimate, trust);
    if (options.store) {
        // Camera 0 leads the list whatever its trust: it names the frame the others are stored in,
        // and an untrusted camera 0 still holds its stored matrix and correction, which are not
        // rewritten.
        SceneState trustedOnly;
        for (std::size_t i = 0; i < state.cameras.size(); ++i)
            if (i == 0 || trust[i].trusted)
                trustedOnly.cameras.push_back(state.cameras[i]);
        SceneState networkCameras;
        networkCameras.cameras = asNetworkCameras(state, *source, trust);
        const bool stored = storeCalibrations(trustedOnly);
        if (!storeCalibrations(networkCameras) || !stored) {
            console::err("tavorin-calibrate: not every configuration file was written.");
            return kExitStoreFailed;
        }
        storeRecords(state, estimate, trust, calibrator.coverage());
        storeRecords(networkCameras, estimate, trust, calibrator.coverage());
        if (!storeStillViews({&state, &networkCameras}, *source, estimate, trust)) {
            console::err("tavorin-calibrate: not every still view reference was written.");
            return kExitStoreFailed;
        }
    }
    if (truth)
        reportErrors(estimate, trust, *truth, options.recordings);
    if (trustedOthers + 1 < estimate.cameras.size() || !trust[0].trusted) {
        console::err("tavorin-calibrate: not every camera is calibrated (named above); the others are",
                     options.store ? " stored." : ".");
        return kExitSomeNotCalibrated;
    }
    return 0;
}
