// The virtual devices that anyone can start: TAVORIN_VIRTUAL_CAMERAS=N (1 to 8) plugs in N devices
// that stream the sample scene, each with its serial, its raw calibration blob and 30 fps, wired as
// a chain; TAVORIN_VIRTUAL_SYNC=standalone leaves them unwired, each at its own phase.
// TAVORIN_VIRTUAL_DEPTH_ERRORS="MM:PERCENT,..." gives each depth sensor a systematic range error
// (one pair per camera: millimetres added to each range, percent of the range added to it), and
// TAVORIN_VIRTUAL_ARTEFACTS=1 a real sensor's random faults. TAVORIN_VIRTUAL_ROOM=furnished puts walls
// and furniture in the room, and TAVORIN_VIRTUAL_KNOCK="C,S,turn|shift|range,AMOUNT;..." knocks
// camera C S seconds after the cameras start (as tavorin-samples --knock does).
#include <k4a/k4a.h>
#include <k4a_virtual/VirtualDevice.h>

#include "calibration_model.h"
#include "depth_rays.h"
#include "device_handles.h"

#include "sample_scene/DepthError.h"
#include "sample_scene/SampleCalibrationBlob.h"
#include "sample_scene/SampleCameraRig.h"
#include "sample_scene/SampleFurniture.h"
#include "sample_scene/SampleKnock.h"
#include "sample_scene/SampleView.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace k4a_layer {

namespace {

constexpr const char* kCountVariable = "TAVORIN_VIRTUAL_CAMERAS";
constexpr const char* kTruthVariable = "TAVORIN_VIRTUAL_TRUTH";
constexpr const char* kSyncVariable = "TAVORIN_VIRTUAL_SYNC";
constexpr const char* kDepthErrorsVariable = "TAVORIN_VIRTUAL_DEPTH_ERRORS";
constexpr const char* kArtefactsVariable = "TAVORIN_VIRTUAL_ARTEFACTS";
constexpr const char* kRoomVariable = "TAVORIN_VIRTUAL_ROOM";
constexpr const char* kKnockVariable = "TAVORIN_VIRTUAL_KNOCK";
constexpr double kPercentPerFraction = 100.0;
// Unwired camera i captures this much after camera 0 (modulo the frame period).
constexpr std::chrono::microseconds kStandalonePhaseStep{11000};
constexpr double kPlatePeriodSeconds = 4.0; // the path's, as in the sample recordings
constexpr double kNsPerSecond = 1e9;
constexpr double kMmPerMetre = 1000.0;

std::uint64_t steadyNowNs()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// Unit-depth rays of the colour camera, through its own model.
std::vector<float> colorRays(const k4a_calibration_camera_t& camera)
{
    const int width = camera.resolution_width;
    const int height = camera.resolution_height;
    std::vector<float> rays(static_cast<std::size_t>(width) * height * 2, std::numeric_limits<float>::quiet_NaN());
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const float uv[2] = {static_cast<float>(c), static_cast<float>(r)};
            float p[2];
            if (k4a_model::unprojectToNormalized(camera, uv, p)) {
                const std::size_t k = (static_cast<std::size_t>(r) * width + c) * 2;
                rays[k] = p[0];
                rays[k + 1] = p[1];
            }
        }
    return rays;
}

// Where the virtual plate is along the sample recordings' motion after `seconds`: that motion,
// sped up and slowed down by up to half over a period that is no multiple of its path's, and the
// plate turning on within its plane, so that no pose comes back and the plate never jumps, as an
// operator's hands never repeat a pose. A calibration cycle that keeps step with a repeating path
// sees the same few poses again and again: with the motion wrapped every 4 s, a cycle every eight
// frames saw fifteen poses, and the plate turned back by 100 degrees at every wrap.
double motionSeconds(double seconds)
{
    constexpr double kWander = 0.9;         // seconds ahead or behind at most
    constexpr double kWanderPeriod = 11.3;  // seconds
    return seconds + kWander * std::sin(2.0 * M_PI * seconds / kWanderPeriod);
}

// The virtual plate's pose after `seconds`: the sample recordings' motion (motionSeconds), carried
// about the shared view as an operator does, slower than that motion and never in step with it:
// up to 35 cm sideways, 18 cm up and down and 15 cm toward the cameras. The recordings' motion
// alone keeps the plate in 15 to 17 % of each camera's image cells; carried, each of cameras 0 to 2
// sees it in 35 to 40 % of them within 30 s, with the whole plate in every view all the while.
PlatePose carriedPlateAt(double seconds)
{
    constexpr double kTwoPi = 2.0 * M_PI;
    constexpr double kSideways = 0.35, kSidewaysPeriod = 19.0; // metres, seconds
    constexpr double kUp = 0.18, kUpPeriod = 13.0, kUpPhase = 0.5; // radians
    constexpr double kToward = 0.15, kTowardPeriod = 23.0, kTowardPhase = 1.0;
    PlatePose plate = sample_scene::plateAt(motionSeconds(seconds), kPlatePeriodSeconds);
    plate.centre += Eigen::Vector3d(kSideways * std::sin(kTwoPi * seconds / kSidewaysPeriod),
                                    kUp * std::sin(kTwoPi * seconds / kUpPeriod + kUpPhase),
                                    kToward * std::sin(kTwoPi * seconds / kTowardPeriod + kTowardPhase));
    return plate;
}

// The sample scene seen by camera `index` of the rig: the plate is where it is at the frame's
// host time, counted from `epochNs`, which all devices share, so their frames show one motion.
class SampleSceneFrames : public k4a_virtual::FrameSource {
public:
    SampleSceneFrames(int index_, std::uint64_t epochNs_, const sample_scene::DepthError& depthError_, bool artefacts_,
                      bool furnished_, std::vector<sample_scene::Knock> knocks_)
        : index(index_), epochNs(epochNs_), depthError(depthError_), artefacts(artefacts_), furnished(furnished_),
          knocks(std::move(knocks_)), rng(2000u + static_cast<unsigned>(index_))
    {
    }

    // The static room is rendered for both cameras here, before the stream starts.
    void prepare(const k4a_calibration_t& calibration, int depthWidth, int depthHeight, int colorWidth,
                 int colorHeight) override
    {
        depthView.reset();
        colorView.reset();
        if (makeDepthView(calibration, depthWidth, depthHeight) && colorWidth > 0)
            makeColorView(calibration, colorWidth, colorHeight);
    }

    void render(const k4a_calibration_t& calibration, std::uint64_t, const k4a_virtual::FrameBuffers& frame) override
    {
        const double seconds = (static_cast<double>(frame.systemTimestampNsec) - static_cast<double>(epochNs)) / kNsPerSecond;
        const PlatePose plate = carriedPlateAt(seconds);
        if (!depthView && !makeDepthView(calibration, frame.depthWidth, frame.depthHeight))
            return;
        applyDueKnocks(seconds);
        depthView->renderDepth(plate, rng, frame.depthMm);
        if (frame.bgra && (colorView || makeColorView(calibration, frame.colorWidth, frame.colorHeight)))
            colorView->renderColor(plate, frame.bgra);
    }

private:
    // The knocks of this camera whose time has come, each once; the colour camera moves with it.
    void applyDueKnocks(double seconds)
    {
        for (sample_scene::Knock& knock : knocks) {
            if (knock.camera != index || seconds < knock.seconds)
                continue;
            sample_scene::CameraPose before = pose;
            sample_scene::applyKnock(*depthView, pose, knock);
            if (colorView && knock.kind != sample_scene::Knock::Kind::Range)
                sample_scene::applyKnock(*colorView, before, knock);
            knock.camera = -1; // done
        }
    }

    bool makeDepthView(const k4a_calibration_t& calibration, int width, int height)
    {
        std::vector<float> rays;
        if (!depthRays(calibration, calibration.depth_camera_calibration.resolution_width,
                       calibration.depth_camera_calibration.resolution_height, rays))
            return false;
        depthView = std::make_unique<sample_scene::SampleView>(pose, width, height, rays);
        depthView->setDepthError(depthError);
        if (furnished)
            depthView->furnish(sample_scene::furnishedRoom());
        if (artefacts)
            depthView->simulateArtefacts();
        return true;
    }

    // The colour camera sits where the depth-to-colour extrinsics put it.
    bool makeColorView(const k4a_calibration_t& calibration, int width, int height)
    {
        const k4a_calibration_camera_t& camera = calibration.color_camera_calibration;
        if (camera.resolution_width != width || camera.resolution_height != height)
            return false;
        const k4a_calibration_extrinsics_t& toColor =
            calibration.extrinsics[K4A_CALIBRATION_TYPE_DEPTH][K4A_CALIBRATION_TYPE_COLOR];
        Eigen::Matrix3d R_color_depth;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                R_color_depth(r, c) = toColor.rotation[r * 3 + c];
        const Eigen::Vector3d t_color_depth_m =
            Eigen::Vector3d(toColor.translation[0], toColor.translation[1], toColor.translation[2]) / kMmPerMetre;
        const Eigen::Matrix3d R_depth_color = R_color_depth.transpose();
        colorView = std::make_unique<sample_scene::SampleView>(pose, width, height, colorRays(camera), R_depth_color,
                                                                -(R_depth_color * t_color_depth_m));
        if (furnished)
            colorView->furnish(sample_scene::furnishedRoom());
        return true;
    }

    const int index;
    const std::uint64_t epochNs;
    const sample_scene::DepthError depthError;
    const bool artefacts;
    const bool furnished;
    std::vector<sample_scene::Knock> knocks; // a knock applied gets camera -1
    sample_scene::CameraPose pose = sample_scene::cameraPose(index);
    std::mt19937 rng;
    std::unique_ptr<sample_scene::SampleView> depthView;
    std::unique_ptr<sample_scene::SampleView> colorView;
};

// The count asked for; 0 without the variable or for a value outside 1 to 8 (with one line).
int requestedCount()
{
    const char* text = std::getenv(kCountVariable);
    if (!text || !*text)
        return 0;
    char* end = nullptr;
    const long count = std::strtol(text, &end, 10);
    if (*end || count < 1 || count > sample_scene::kMaxCameras) {
        std::cerr << kCountVariable << "=" << text << " is not a number from 1 to " << sample_scene::kMaxCameras
                  << "; no virtual camera is started." << std::endl;
        return 0;
    }
    return static_cast<int>(count);
}

// Whether the environment switch `variable` is `on`: unset, empty or `off` is not, anything else
// is named with one line that ends in `otherwise` (what is done instead) and is not.
bool switchedOn(const char* variable, const char* on, const char* off, const char* otherwise)
{
    const char* text = std::getenv(variable);
    if (!text || !*text || std::strcmp(text, off) == 0)
        return false;
    if (std::strcmp(text, on) == 0)
        return true;
    std::cerr << variable << "=" << text << " is neither " << on << " nor " << off << "; " << otherwise << std::endl;
    return false;
}

// Whether TAVORIN_VIRTUAL_SYNC asks for unwired cameras ("standalone") instead of the chain.
bool standaloneRequested()
{
    return switchedOn(kSyncVariable, "standalone", "chain", "the virtual cameras are wired as a chain.");
}

// One "MM:PERCENT" pair into `error`; false for anything else or for values beyond the largest
// error the scene takes.
bool parseDepthError(const std::string& pair, sample_scene::DepthError& error)
{
    const std::size_t colon = pair.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string offset = pair.substr(0, colon);
    const std::string percent = pair.substr(colon + 1);
    char* offsetEnd = nullptr;
    char* percentEnd = nullptr;
    const double offsetMm = std::strtod(offset.c_str(), &offsetEnd);
    const double scale = std::strtod(percent.c_str(), &percentEnd) / kPercentPerFraction;
    if (offset.empty() || percent.empty() || *offsetEnd || *percentEnd
        || !(std::abs(offsetMm) <= sample_scene::DepthError::kMaxOffsetMm)
        || !(std::abs(scale) <= sample_scene::DepthError::kMaxScale))
        return false;
    error = {offsetMm, scale};
    return true;
}

// The depth error of each of `count` cameras: zeros without the variable, and, with one line,
// for a value that is not one good pair per camera.
std::vector<sample_scene::DepthError> requestedDepthErrors(int count)
{
    std::vector<sample_scene::DepthError> errors(static_cast<std::size_t>(count));
    const char* text = std::getenv(kDepthErrorsVariable);
    if (!text || !*text)
        return errors;
    std::vector<sample_scene::DepthError> parsed;
    const std::string list = text;
    bool good = true;
    for (std::size_t begin = 0; good && begin <= list.size();) {
        const std::size_t end = std::min(list.find(',', begin), list.size());
        sample_scene::DepthError error;
        good = parseDepthError(list.substr(begin, end - begin), error);
        parsed.push_back(error);
        begin = end + 1;
    }
    if (good && parsed.size() == errors.size())
        return parsed;
    std::cerr << kDepthErrorsVariable << "=" << text << " is not one MM:PERCENT pair per camera (" << count
              << ", within " << sample_scene::DepthError::kMaxOffsetMm << " mm and "
              << sample_scene::DepthError::kMaxScale * kPercentPerFraction
              << " %); the depth sensors measure without error." << std::endl;
    return errors;
}

// Whether TAVORIN_VIRTUAL_ARTEFACTS asks for the sensors' random faults ("1"; "0" or nothing does not).
bool artefactsRequested()
{
    return switchedOn(kArtefactsVariable, "1", "0", "the depth sensors show no artefacts.");
}

// Whether TAVORIN_VIRTUAL_ROOM asks for the furnished room: "furnished" does, nothing does not,
// anything else is named with one line and does not.
bool furnishedRequested()
{
    const char* text = std::getenv(kRoomVariable);
    if (!text || !*text)
        return false;
    if (std::strcmp(text, "furnished") == 0)
        return true;
    std::cerr << kRoomVariable << "=" << text << " is not furnished; the room holds only its floor." << std::endl;
    return false;
}

// The knocks of TAVORIN_VIRTUAL_KNOCK; none, with one line, when one of them is not understood.
std::vector<sample_scene::Knock> requestedKnocks(int count)
{
    const char* text = std::getenv(kKnockVariable);
    std::vector<sample_scene::Knock> knocks;
    if (!text || !*text)
        return knocks;
    const std::string list = text;
    for (std::size_t begin = 0; begin <= list.size();) {
        const std::size_t end = std::min(list.find(';', begin), list.size());
        sample_scene::Knock knock;
        if (!sample_scene::parseKnock(list.substr(begin, end - begin), count, knock)) {
            std::cerr << kKnockVariable << "=" << text << " is not a list of CAMERA,SECONDS,turn|shift|range,AMOUNT "
                      << "separated by ';'; no camera is knocked." << std::endl;
            return {};
        }
        knocks.push_back(knock);
        begin = end + 1;
    }
    return knocks;
}

void writeTruth(const std::vector<sample_scene::DepthError>& depthErrors, bool artefacts)
{
    const char* path = std::getenv(kTruthVariable);
    if (!path || !*path)
        return;
    std::vector<sample_scene::SceneCamera> cameras;
    for (std::size_t i = 0; i < depthErrors.size(); ++i)
        cameras.push_back({static_cast<int>(i), sample_scene::cameraPose(static_cast<int>(i)), depthErrors[i]});
    std::ofstream file(path);
    file << sample_scene::groundTruth(cameras, ".", artefacts).dump(2) << "\n";
    if (!file.flush())
        std::cerr << "Cannot write the virtual cameras' ground truth to " << path << std::endl;
}

} // namespace

std::vector<std::shared_ptr<k4a_virtual::VirtualDevice>> environmentCameras()
{
    const int count = requestedCount();
    const bool standalone = count > 0 && standaloneRequested();
    const std::vector<sample_scene::DepthError> depthErrors = count > 0 ? requestedDepthErrors(count)
                                                                        : std::vector<sample_scene::DepthError>();
    const bool artefacts = count > 0 && artefactsRequested();
    const bool furnished = count > 0 && furnishedRequested();
    const std::vector<sample_scene::Knock> knocks = count > 0 ? requestedKnocks(count) : std::vector<sample_scene::Knock>();
    std::vector<std::shared_ptr<k4a_virtual::VirtualDevice>> devices;
    const std::uint64_t epoch = steadyNowNs();
    for (int i = 0; i < count; ++i) {
        const std::string serial = sample_scene::cameraSerial(i);
        auto frames =
            std::make_shared<SampleSceneFrames>(i, epoch, depthErrors[static_cast<std::size_t>(i)], artefacts, furnished, knocks);
        auto device = std::make_shared<k4a_virtual::VirtualDevice>(serial, sampleCalibrationBlob(i, serial), frames);
        if (standalone) {
            // As independent cameras: each captures at its own instants and drops its own frames.
            device->phaseOffset = kStandalonePhaseStep * i;
        } else {
            // Several devices rendering the scene on a busy host would each drop other frames. They
            // are wired as a daisy chain: the first one's sync-out feeds the second one's sync-in,
            // and so on.
            device->onSyncCable = true;
            device->syncInCable = i > 0;
            device->syncOutCable = i + 1 < count;
        }
        devices.push_back(std::move(device));
    }
    if (count > 0) {
        std::cout << count << " virtual cameras stream the sample scene (" << kCountVariable << ")." << std::endl;
        writeTruth(depthErrors, artefacts);
    }
    return devices;
}

} // namespace k4a_layer
