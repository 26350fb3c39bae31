// tavorin-tf: the stored calibration of every network camera on ROS 2's tf_static without the
// window, as tf2's static broadcaster publishes: until it is stopped, and again whenever a save
// changes the stored files.
#include "ExitCodes.h"
#include "HelpOption.h"
#include "StopSignal.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "acquisition/config/CameraTfFile.h"
#include "base/Console.h"
#include "network/ros/CameraTransforms.h"
#include "network/ros/TfStaticPublisher.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using tavorin::CameraTfFrames, tavorin::Mat4, tavorin::StaticTransform;
namespace console = tavorin::console;
namespace fs = std::filesystem;

namespace {

constexpr char kFolder[] = "config/cameras/ros";
// How often the stored files are looked at; a change is taken once it stayed one look, so that a
// save of several files is taken whole.
constexpr std::chrono::milliseconds kLookInterval{500};

constexpr const char* kUsage = "Usage: tavorin-tf";
constexpr const char* kHelp =
    "Publishes the calibration of every network camera stored under config/cameras/ros/ (in the working\n"
    "directory; the window's save and tavorin-calibrate --store write it) on /tf_static as tf2's static\n"
    "broadcaster does (tf2_msgs/TFMessage, reliable, transient-local): one transform per camera from the\n"
    "parent \"room\" (the room frame with z up, REP 103: x toward room point 0, y away from room point 2) or,\n"
    "before a room registration, from camera 0's frame, to the frame_id the camera's images carry.\n"
    "Publishes again when a save changes the stored files, and runs until SIGINT or SIGTERM. ROS_DOMAIN_ID\n"
    "selects the domain (default 0).\n"
    "Exit codes: 0 stopped by a signal; 1 DDS cannot be used; 2 wrong arguments.";

// When each JSON file of the folder last changed, and its size: a save changes them.
using FolderState = std::vector<std::tuple<std::string, fs::file_time_type, std::uintmax_t>>;

FolderState folderState()
{
    FolderState state;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(kFolder, error)) {
        std::error_code statError;
        if (entry.path().extension() == ".json" && entry.is_regular_file(statError))
            state.emplace_back(entry.path().string(), entry.last_write_time(statError), entry.file_size(statError));
    }
    std::sort(state.begin(), state.end());
    return state;
}

// The network cameras' model-matrix files, "<namespace made safe>.json": their stems hold no dot,
// those of the files beside them do.
std::vector<std::string> matrixFiles(const FolderState& state)
{
    std::vector<std::string> paths;
    for (const auto& [path, changed, size] : state)
        if (fs::path(path).stem().string().find('.') == std::string::npos)
            paths.push_back(path);
    return paths;
}

// The transform of the camera stored at `path`, or nothing (its frame is the parent, or it cannot
// be published; the line says why).
std::optional<StaticTransform> storedTransform(const std::string& path)
{
    Mat4 T_world_camera;
    if (!tavorin::loadModelMatrix(path, T_world_camera))
        return std::nullopt;
    const std::string tfPath = tavorin::cameraTfPath(path);
    const std::optional<CameraTfFrames> frames = tavorin::loadCameraTfFrames(tfPath);
    std::error_code error;
    if (!frames && !fs::exists(tfPath, error))
        console::err("Not publishing ", path, ": no ", tfPath, " names its frames; storing its calibration again "
                     "writes it.");
    if (!frames || frames->parent == frames->child)
        return std::nullopt;
    console::out("tf_static: ", frames->parent, " -> ", frames->child, " from ", path);
    return tavorin::cameraTransform(*frames, T_world_camera);
}

std::vector<StaticTransform> storedTransforms(const FolderState& state)
{
    std::vector<StaticTransform> transforms;
    std::set<std::string> parents;
    for (const std::string& path : matrixFiles(state))
        if (const std::optional<StaticTransform> transform = storedTransform(path)) {
            transforms.push_back(*transform);
            parents.insert(transform->parent);
        }
    if (parents.size() > 1)
        console::err("The stored cameras hang from ", parents.size(), " parent frames: they were stored from different "
                     "registrations; storing them from one joins them.");
    return transforms;
}

bool sameTransforms(const std::vector<StaticTransform>& a, const std::vector<StaticTransform>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const StaticTransform& x, const StaticTransform& y) {
        return x.parent == y.parent && x.child == y.child && x.translation == y.translation && x.rotation == y.rotation;
    });
}

// Publishes what is stored, then looks at the folder until a signal comes; a change that stayed
// for one look is read, and published when the transforms differ from those published.
void publishUntilStopped(tavorin::TfStaticPublisher& publisher)
{
    FolderState taken = folderState();
    std::vector<StaticTransform> published = storedTransforms(taken);
    if (published.empty())
        console::out("No network camera calibration stored in ", kFolder, "/ yet; waiting for one.");
    else
        publisher.publish(published);
    FolderState lastLook = taken;
    while (!tavorin::stopSignal()) {
        std::this_thread::sleep_for(kLookInterval);
        const FolderState look = folderState();
        if (look != taken && look == lastLook) {
            taken = look;
            std::vector<StaticTransform> stored = storedTransforms(taken);
            if (!sameTransforms(stored, published)) {
                console::out("The stored calibration changed: publishing it again.");
                publisher.publish(stored);
                published = std::move(stored);
            }
        }
        lastLook = look;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (printHelpIfAsked(argc, argv, kUsage, kHelp))
        return 0;
    if (argc > 1) {
        console::err("tavorin-tf: ", argv[1], " is no option; it takes none.");
        console::err(kUsage);
        return tool_exit::kUsage;
    }
    tavorin::installStopSignalHandlers();
    tavorin::TfStaticPublisher publisher;
    if (!publisher.ok())
        return tool_exit::kFailed;
    publishUntilStopped(publisher);
    console::out("Stopping (", strsignal(tavorin::stopSignal()), ").");
    return 0;
}
