// tavorin-record: records every attached depth camera into one kinect_<serial>.h5 per camera, in
// the layout the playback reads, until the time is up, the frame count is reached or SIGINT or
// SIGTERM arrives.
#include "acquisition/live/AzureKinectReadingThread.h"
#include "NetworkRecording.h"

#include "acquisition/live/RecordingSession.h"
#include "base/Console.h"
#include "network/ros/NetworkDepthSource.h"
#include "AttachedDevices.h"
#include "ExitCodes.h"
#include "HelpOption.h"
#include "OptionValues.h"
#include "StopSignal.h"

#include <k4a/k4a.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using tavorin::AzureKinectReadingThread, tavorin::RecordingSession;
namespace console = tavorin::console;

namespace {

constexpr char kTool[] = "tavorin-record";
constexpr int kExitGaps = 3;
constexpr std::chrono::milliseconds kPollInterval{20};

constexpr const char* kUsage =
    "Usage: tavorin-record [--seconds S] [--out FOLDER] [--set a|b|c|velto] [--frames N] [--no-color] [--network]";
constexpr const char* kHelp =
    "Records every attached camera into FOLDER/kinect_<serial>.h5 (default recordings/<date>_<time>)\n"
    "until S seconds have passed, every camera has N frames, or SIGINT or SIGTERM arrives. --set puts the\n"
    "files into the subfolder whose recordings play with that set's camera configurations. With --network it\n"
    "records every camera that other computers publish to ROS 2 (see tavorin-node) instead, without colour,\n"
    "each frame at its header stamp, into FOLDER/kinect_<last part of its namespace>.h5.\n"
    "A recording is complete when its camera delivered frames from the start to the end, with no gap\n"
    "of more than three frame periods (each gap is listed with its length) and every file was written.\n"
    "Exit codes: 0 every recording is complete; 1 no camera, the folder cannot be written, or a\n"
    "recording ended early (its file still plays); 2 wrong arguments; 3 every file was written, but\n"
    "a recording has gaps in capture (it plays; its frame sets around a gap are left out).";

struct Options {
    double seconds = 0.0; // 0: until a signal
    std::string folder;
    std::string set;
    std::uint64_t frames = 0;
    bool withColor = true;
    bool network = false;
};

// The options, or false after a line that says what is wrong with them.
bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue) {
            if (!tavorin::options::parseSeconds(argv[++i], options.seconds))
                return tavorin::options::refuse(kTool, "--seconds wants a number of seconds above 0 and below 1e7", argv[i]);
        } else if (arg == "--out" && hasValue && argv[i + 1][0])
            options.folder = argv[++i];
        else if (arg == "--set" && hasValue) {
            options.set = argv[++i];
            if (RecordingSession::setSubfolder(options.set).empty())
                return tavorin::options::refuse(kTool, "--set wants a, b, c or velto", argv[i]);
        } else if (arg == "--frames" && hasValue) {
            if (!tavorin::options::parseCount(argv[++i], options.frames))
                return tavorin::options::refuse(kTool, "--frames wants a whole number from 1 to 18446744073709551615", argv[i]);
        } else if (arg == "--no-color")
            options.withColor = false;
        else if (arg == "--network")
            options.network = true;
        else
            return tavorin::options::refuse(kTool, "unknown option, or one without its value", argv[i]);
    }
    return true;
}

// SIGINT and SIGTERM end the recording; a file size limit makes writes fail (and the recording end
// with a complete file) instead of killing the process.
void installSignalHandlers()
{
    tavorin::installStopSignalHandlers();
    std::signal(SIGXFSZ, SIG_IGN);
}

bool keepsRecording(RecordingSession& session)
{
    return !tavorin::stopSignal() && !session.allDone() && session.poll();
}

// Until the time is up, a signal arrives, every camera has its frames or none records any more.
// The time counts from the moment every camera streams (a camera's first frame can take a while).
void recordUntilDone(RecordingSession& session, double seconds)
{
    constexpr std::chrono::seconds kLongestStart{10};
    const auto opened = std::chrono::steady_clock::now();
    while (keepsRecording(session) && !session.allStreaming()
           && std::chrono::steady_clock::now() - opened < kLongestStart)
        std::this_thread::sleep_for(kPollInterval);
    session.start();
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&start] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    while (keepsRecording(session) && (seconds <= 0.0 || elapsed() < seconds))
        std::this_thread::sleep_for(kPollInterval);
    if (tavorin::stopSignal())
        console::out("Stopping the recording (", strsignal(tavorin::stopSignal()), ").");
}

} // namespace

// Every network camera until the time is up, every camera has its frames, or a signal; the
// recording starts with the first camera that streams and ends together for all.
int recordNetwork(const Options& options, const std::string& folder)
{
    NetworkRecording recording(folder, options.frames);
    bool complete = false;
    {
        tavorin::NetworkDepthSource source([&recording](const std::string& nameSpace, const tavorin::CameraInfoFields& model,
                                                        const std::uint16_t* depthMm, double stamp, const std::string& frameId) {
            recording.onFrame(nameSpace, model, depthMm, stamp, frameId);
        });
        console::out("Recording the network cameras to ", folder);
        const auto start = std::chrono::steady_clock::now();
        const auto elapsed = [&start] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        while (!tavorin::stopSignal() && !recording.allDone() && (options.seconds <= 0.0 || elapsed() < options.seconds))
            std::this_thread::sleep_for(kPollInterval);
        if (tavorin::stopSignal())
            console::out("Stopping the recording (", strsignal(tavorin::stopSignal()), ").");
    }
    if (recording.cameraCount() == 0) {
        console::err("Cannot record: no network camera streamed.");
        return tool_exit::kFailed;
    }
    complete = recording.stop();
    if (!complete)
        return tool_exit::kFailed;
    return recording.hasGaps() ? kExitGaps : 0;
}

int main(int argc, char** argv)
{
    const Options options = optionsOrExit<Options>(argc, argv, parseOptions, kUsage, kHelp, tool_exit::kUsage);
    installSignalHandlers();
    std::string folder = options.folder.empty() ? RecordingSession::timestampedFolder() : options.folder;
    if (!options.set.empty())
        folder += "/" + RecordingSession::setSubfolder(options.set);
    const std::string fault = RecordingSession::folderFault(folder);
    if (!fault.empty()) {
        console::err("Cannot record: ", fault);
        return tool_exit::kFailed;
    }
    if (options.network)
        return recordNetwork(options, folder);
    std::vector<std::shared_ptr<AzureKinectReadingThread>> devices = openAttachedDevices();
    if (devices.empty()) {
        console::err("Cannot record: no camera could be opened.");
        return tool_exit::kFailed;
    }
    bool complete = false;
    bool gaps = false;
    {
        RecordingSession session(devices, {folder, options.withColor, options.frames});
        console::out("Recording ", session.cameraCount(), " cameras to ", folder);
        recordUntilDone(session, options.seconds);
        complete = session.stop();
        gaps = session.hasGaps();
    }
    for (const std::shared_ptr<AzureKinectReadingThread>& device : devices)
        device->requestStop();
    for (const std::shared_ptr<AzureKinectReadingThread>& device : devices)
        device->stop();
    if (!complete)
        return tool_exit::kFailed;
    return gaps ? kExitGaps : 0;
}
