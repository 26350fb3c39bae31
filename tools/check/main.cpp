// tavorin-check: whether the cameras of a calibration still stand where it put them. Each
// recording's camera is compared with the reference of its still view stored beside its matrix:
// how far it turned and moved, found without the plate from what in the room stayed still.

#include "HelpOption.h"
#include "RecordingArguments.h"
#include "RecordingStillView.h"
#include "StepWatchdog.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "acquisition/recording/HDF5RecordingReader.h"
#include "app/StillViewCheck.h"
#include "base/Console.h"
#include "calibration/drift/DriftVerdict.h"

#include <optional>
#include <string>
#include <vector>

namespace console = tavorin::console;
using recording_tool::kExitStoreFailed, recording_tool::kExitUnreadable, recording_tool::kExitUsage,
    recording_tool::kMaxRecordings, recording_tool::kStepLimitSeconds;
using tavorin::DriftVerdict, tavorin::HDF5RecordingReader, tavorin::StillViewCheck;

namespace {

constexpr int kExitCannotTell = 3;
constexpr int kExitMoved = 5;
constexpr const char* kStepStuck = "tavorin-check: reading a recording took more than 30 s at once; it is damaged. "
                                   "Nothing checked.\n";

constexpr const char* kUsage = "usage: tavorin-check [--fix] [--frames N] [--max-turn DEG] [--max-shift MM] "
                               "REC.h5 [REC2.h5 ...]";
constexpr const char* kHelp =
    "Compares each recording's camera with the reference of its still view that tavorin-calibrate --store\n"
    "(or the window's save) stored beside its matrix, and says how it moved since: the median of the\n"
    "recording's last N frames (45) is registered against the reference, point to plane with a robust loss,\n"
    "over the camera's turn, the shift of its centre and an offset of its range (a sensor that is not warm\n"
    "measures a few millimetres longer or shorter; that is no motion). What changed in the room (furniture,\n"
    "people) does not decide. One line per camera:\n"
    "  Camera <i> (<serial>): moved <deg> deg, <mm> mm since <date of the stored calibration>\n"
    "  Camera <i> (<serial>): in place (<deg> deg, <mm> mm)\n"
    "  Camera <i> (<serial>): cannot tell: <why>\n"
    "A camera has moved beyond 0.1 degrees or 2 mm (--max-turn, --max-shift). It cannot be told when too\n"
    "little of its view still agrees with the reference, or when what stayed still does not show every\n"
    "motion (a flat floor alone shows no shift along it and no turn about its normal).\n"
    "--fix stores, for every moved camera, its matrix moved as the camera moved (the room frame stays), and\n"
    "a new reference of its still view; the replaced files are kept as <file>.<date>_<time>.bak.\n"
    "Exit codes: 0 every camera in place (with --fix: or moved and stored); 1 wrong arguments; 2 a\n"
    "recording cannot be read; 3 a camera cannot be told (and none moved); 4 --fix could not write a file;\n"
    "5 a camera moved.";

struct Options {
    bool fix = false;
    long frames = tavorin::kStillViewFrames;
    tavorin::DriftLimits limits;
    std::vector<std::string> recordings;
};

std::optional<float> positiveNumber(const char* text)
{
    const std::optional<float> value = finiteNumber(text);
    return value && *value > 0.0f ? value : std::nullopt;
}

std::optional<Options> parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fix") {
            options.fix = true;
        } else if (arg == "--frames" && i + 1 < argc) {
            const std::optional<long> frames = positiveCount(argv[++i]);
            if (!frames) {
                console::err("tavorin-check: --frames wants a whole number of at least 1, not \"", argv[i], "\".");
                return std::nullopt;
            }
            options.frames = *frames;
        } else if ((arg == "--max-turn" || arg == "--max-shift") && i + 1 < argc) {
            const std::optional<float> limit = positiveNumber(argv[++i]);
            if (!limit) {
                console::err("tavorin-check: ", arg, " wants a number above 0, not \"", argv[i], "\".");
                return std::nullopt;
            }
            (arg == "--max-turn" ? options.limits.turnDeg : options.limits.shiftMm) = *limit;
        } else if (!arg.empty() && arg[0] == '-') {
            console::err("tavorin-check: ", arg, " is not an option, or lacks its value.");
            return std::nullopt;
        } else {
            options.recordings.push_back(arg);
        }
    }
    if (options.recordings.empty() || options.recordings.size() > kMaxRecordings) {
        console::err("tavorin-check: ", options.recordings.size(), " recordings given; it takes 1 to 32.");
        return std::nullopt;
    }
    return options;
}

// The moved camera's matrix moved with it, and a new reference of what it now sees.
bool fixCamera(std::size_t i, const std::string& serial, const HDF5RecordingReader& reader,
               const tavorin::CameraStillView& still, const StillViewCheck& check)
{
    const tavorin::Mat4 T_room_camera = reader.modelMatrix() * check.estimate.T_reference_current;
    if (!tavorin::writeModelMatrix(reader.configPath(), T_room_camera)
        || !tavorin::storeStillView(reader.configPath(), still, reader.depthCorrection()))
        return false;
    console::out("Camera ", i, " (", serial, "): stored its matrix moved by ", tavorin::motionText(check.estimate), " to ",
                 reader.configPath(), ", and a new reference of its still view");
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = recordingOptionsOrExit<Options>(argc, argv, parseOptions, kUsage, kHelp, kExitUsage,
                                                           "tavorin-check", "checked");
    bool moved = false;
    bool untold = false;
    bool storeFailed = false;
    for (std::size_t i = 0; i < options.recordings.size(); ++i) {
        const std::string& path = options.recordings[i];
        StepWatchdog::arm(kStepLimitSeconds, kStepStuck, kExitUnreadable);
        HDF5RecordingReader reader;
        std::optional<tavorin::DepthStack> stack;
        if (reader.open(path, false))
            stack = lastFrames(reader, static_cast<std::uint32_t>(options.frames));
        StepWatchdog::disarm();
        if (!stack) {
            console::err("tavorin-check: ", path, " cannot be read; nothing checked after it.");
            return kExitUnreadable;
        }
        const std::string serial = serialOfName(path).empty() ? reader.fileName() : serialOfName(path);
        const tavorin::CameraStillView still = tavorin::cameraStillView(*stack);
        const StillViewCheck check = tavorin::checkAgainstStoredReference(reader.configPath(), still, options.limits);
        console::out("Camera ", i, " (", serial, "): ",
                     tavorin::driftVerdictText(check.estimate, check.verdict, check.storedAt));
        if (check.estimate.told)
            console::out("Camera ", i, ": ", tavorin::rangeOffsetText(check.estimate), "; ",
                         static_cast<int>(100.0 * check.estimate.agreeingShare + 0.5),
                         " % of its view agrees with its reference; its weakest direction ",
                         check.estimate.weakestToStrongest, " of the strongest");
        untold = untold || check.verdict == DriftVerdict::CannotTell;
        if (check.verdict != DriftVerdict::Moved)
            continue;
        if (options.fix && fixCamera(i, serial, reader, still, check))
            continue;
        moved = true;
        storeFailed = storeFailed || options.fix;
    }
    if (storeFailed)
        return kExitStoreFailed;
    return moved ? kExitMoved : untold ? kExitCannotTell : 0;
}
