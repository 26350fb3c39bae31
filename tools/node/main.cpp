// tavorin-node: publishes depth cameras to ROS 2 over DDS, as the Azure Kinect ROS 2 driver does,
// for the network source of another computer's Tavorin: every attached device (real or virtual),
// or with --play the recordings of a folder at their own timestamps.
#include "acquisition/live/AzureKinectReadingThread.h"
#include "acquisition/config/CameraConfigFiles.h"
#include "acquisition/live/CaptureFrameSink.h"
#include "acquisition/model/DepthIntrinsics.h"
#include "acquisition/recording/HDF5RecordingReader.h"
#include "acquisition/model/PinholeParameters.h"
#include "base/Console.h"
#include "network/ros/CameraInfoModel.h"
#include "network/ros/DepthPublisher.h"
#include "network/ros/RosDomain.h"
#include "AttachedDevices.h"
#include "ExitCodes.h"
#include "HelpOption.h"
#include "OptionValues.h"
#include "StopSignal.h"

#include <k4a/k4a.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using tavorin::AzureKinectReadingThread, tavorin::CameraInfoFields, tavorin::CapturedFrame, tavorin::DepthPublisher,
    tavorin::HDF5RecordingReader, tavorin::RosDomain;
namespace console = tavorin::console;

namespace {

constexpr char kTool[] = "tavorin-node";
constexpr std::chrono::milliseconds kPollInterval{20};

constexpr const char* kUsage = "Usage: tavorin-node [--prefix NAME] [--play FOLDER] [--seconds S]";
constexpr const char* kHelp =
    "Publishes every attached depth camera (real, or virtual with TAVORIN_VIRTUAL_CAMERAS) to ROS 2 as the\n"
    "Azure Kinect driver does, under NAME/<serial> (default NAME: kinect): depth/image_raw (16UC1,\n"
    "millimetres), depth/camera_info (rational_polynomial) and depth/image_raw/compressedDepth (RVL), each\n"
    "stamped with its capture time on this computer's clock. With --play it publishes the kinect_*.h5\n"
    "recordings of FOLDER instead, each frame when its time has come after the start, stamped with its\n"
    "own timestamp (the recordings' clock), as a bag's player does. ROS_DOMAIN_ID selects\n"
    "the domain (default 0). Runs until S seconds have passed (or the recordings end), or SIGINT or SIGTERM.\n"
    "Exit codes: 0 ended as asked; 1 no camera or recording, or DDS cannot be used; 2 wrong arguments.";

struct Options {
    std::string prefix = "kinect";
    std::string playFolder;
    double seconds = 0.0; // 0: until a signal
};

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--prefix" && hasValue) {
            options.prefix = argv[++i];
            const bool safe = !options.prefix.empty() && std::all_of(options.prefix.begin(), options.prefix.end(), [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '/';
            });
            if (!safe)
                return tavorin::options::refuse(kTool, "--prefix wants letters, digits, '_' and '/'", argv[i]);
        } else if (arg == "--play" && hasValue) {
            options.playFolder = argv[++i];
        } else if (arg == "--seconds" && hasValue) {
            if (!tavorin::options::parseSeconds(argv[++i], options.seconds))
                return tavorin::options::refuse(kTool, "--seconds wants a number of seconds above 0", argv[i]);
        } else {
            return tavorin::options::refuse(kTool, "unknown option, or one without its value", argv[i]);
        }
    }
    return true;
}


// Seconds to add to the host's monotonic clock for its wall clock, which the stamps use: cameras
// on several computers meet on their (PTP- or chrony-synchronised) wall clocks.
double wallMinusMonotonicSeconds()
{
    const double wall =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const double monotonic =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return wall - monotonic;
}

CameraInfoFields cameraInfoOf(const std::vector<float>& parameterRow, std::uint32_t width, std::uint32_t height)
{
    const tavorin::DepthIntrinsics lens = tavorin::depthIntrinsicsOf(parameterRow).value_or(tavorin::DepthIntrinsics{});
    return tavorin::rationalPolynomialInfo(width, height, lens.fx, lens.fy, lens.cx, lens.cy, lens.distortion);
}

// Hands every capture of one device to its publisher, on the device's capture thread.
class PublishingSink : public tavorin::CaptureFrameSink {
public:
    PublishingSink(const RosDomain& domain, std::string nameSpace, const k4a_calibration_t& deviceCalibration)
        : calibration(deviceCalibration), domainRef(domain), name(std::move(nameSpace))
    {
    }

    void onFrame(const CapturedFrame& frame) override
    {
        if (!publisher) {
            publisher = std::make_unique<DepthPublisher>(
                domainRef, name,
                cameraInfoOf(tavorin::pinholeParameters(calibration), static_cast<std::uint32_t>(frame.width),
                             static_cast<std::uint32_t>(frame.height)));
            console::out("Publishing ", name);
        }
        publisher->publish(frame.depthMm, frame.captureSeconds + offsetSeconds);
        published.fetch_add(1);
    }

    std::uint64_t frames() const { return published.load(); }

private:
    const k4a_calibration_t calibration;
    const RosDomain& domainRef;
    std::string name;
    const double offsetSeconds = wallMinusMonotonicSeconds();
    std::unique_ptr<DepthPublisher> publisher; // capture thread
    std::atomic<std::uint64_t> published{0};
};

bool keepGoing(const std::chrono::steady_clock::time_point start, double seconds)
{
    return !tavorin::stopSignal()
        && (seconds <= 0.0 || std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds);
}

int publishDevices(const RosDomain& domain, const Options& options)
{
    const std::vector<std::shared_ptr<AzureKinectReadingThread>> devices = openAttachedDevices();
    if (devices.empty()) {
        console::err("tavorin-node: no camera could be opened.");
        return tool_exit::kFailed;
    }
    std::vector<std::shared_ptr<PublishingSink>> sinks;
    for (const auto& device : devices) {
        auto sink = std::make_shared<PublishingSink>(domain, options.prefix + "/" + tavorin::pathSafeSerial(device->serialNumber()),
                                                     device->deviceCalibration());
        device->setFrameSink(sink);
        sinks.push_back(sink);
    }
    const auto start = std::chrono::steady_clock::now();
    while (keepGoing(start, options.seconds))
        std::this_thread::sleep_for(kPollInterval);
    for (const auto& device : devices)
        device->setFrameSink(nullptr);
    for (const auto& device : devices)
        device->requestStop();
    for (const auto& device : devices)
        device->stop();
    for (std::size_t i = 0; i < sinks.size(); ++i)
        console::out("Published ", sinks[i]->frames(), " frames of ", devices[i]->serialNumber());
    return 0;
}

// Every kinect_<serial>.h5 of the folder, sorted.
std::vector<std::string> recordingsIn(const std::string& folder)
{
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("kinect_", 0) == 0 && name.size() > 10 && name.compare(name.size() - 3, 3, ".h5") == 0)
            paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// The recordings' frames in the order of their timestamps, each published when its time has come
// after the start and stamped with its own timestamp, as a bag's player does: nodes that play
// recordings of one session give the same instant the same stamp.
int playRecordings(const RosDomain& domain, const Options& options)
{
    struct Played {
        std::unique_ptr<HDF5RecordingReader> reader;
        std::unique_ptr<DepthPublisher> publisher;
        std::uint32_t next = 0;
    };
    std::vector<Played> played;
    HDF5RecordingReader::silenceLibraryErrors();
    for (const std::string& path : recordingsIn(options.playFolder)) {
        Played p;
        p.reader = std::make_unique<HDF5RecordingReader>();
        if (!p.reader->open(path, false) || !p.reader->loadFrame(0))
            continue;
        const std::string file = std::filesystem::path(path).stem().string();
        const std::string nameSpace = options.prefix + "/" + tavorin::pathSafeSerial(file.substr(std::strlen("kinect_")));
        p.publisher = std::make_unique<DepthPublisher>(
            domain, nameSpace, cameraInfoOf(p.reader->cameraParameterRow(), p.reader->width(), p.reader->height()));
        console::out("Publishing ", path, " as ", nameSpace);
        played.push_back(std::move(p));
    }
    if (played.empty()) {
        console::err("tavorin-node: no recording kinect_*.h5 in ", options.playFolder, " could be played.");
        return tool_exit::kFailed;
    }
    // A reader that is already listening gets the first frame too: wait a little for one.
    constexpr double kSubscriberWaitSeconds = 3.0;
    const auto waitStart = std::chrono::steady_clock::now();
    while (!tavorin::stopSignal()
           && !std::all_of(played.begin(), played.end(), [](const Played& p) { return p.publisher->hasSubscriber(); })
           && std::chrono::duration<double>(std::chrono::steady_clock::now() - waitStart).count() < kSubscriberWaitSeconds)
        std::this_thread::sleep_for(kPollInterval);
    double firstTimestamp = played.front().reader->timestampAt(0);
    for (const Played& p : played)
        firstTimestamp = std::min(firstTimestamp, p.reader->timestampAt(0));
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::uint16_t> depthMm;
    std::uint64_t frames = 0;
    while (keepGoing(start, options.seconds)) {
        Played* due = nullptr;
        for (Played& p : played)
            if (p.next < p.reader->frameCount()
                && (!due || p.reader->timestampAt(p.next) < due->reader->timestampAt(due->next)))
                due = &p;
        if (!due)
            break;
        const double at = due->reader->timestampAt(due->next) - firstTimestamp;
        while (keepGoing(start, options.seconds)
               && std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < at)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!due->reader->loadFrame(due->next))
            break;
        due->reader->loadedDepthMm(depthMm);
        due->publisher->publish(depthMm.data(), due->reader->timestampAt(due->next));
        ++due->next;
        ++frames;
    }
    HDF5RecordingReader::clearLibraryErrors();
    console::out("Published ", frames, " frames of ", played.size(), " recordings");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = optionsOrExit<Options>(argc, argv, parseOptions, kUsage, kHelp, tool_exit::kUsage);
    tavorin::installStopSignalHandlers();
    RosDomain domain;
    if (!domain.ok())
        return tool_exit::kFailed;
    const int result = options.playFolder.empty() ? publishDevices(domain, options) : playRecordings(domain, options);
    if (tavorin::stopSignal())
        console::out("Stopping (", strsignal(tavorin::stopSignal()), ").");
    return result;
}
