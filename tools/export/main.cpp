// tavorin-export: one binary PLY of frame N of up to 32 recordings, each camera's points
// placed by its configuration-file matrix (x, y, z float metres; red, green, blue); the header's
// comment and the last console line name the frame the points are in.
#include "HelpOption.h"
#include "StepWatchdog.h"

#include "acquisition/recording/HDF5RecordingReader.h"
#include "base/Console.h"
#include "math/Mat4.h"
#include "math/Vec4.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using tavorin::HDF5RecordingReader, tavorin::Mat4, tavorin::Vec4;
namespace console = tavorin::console;

namespace {

constexpr std::size_t kMaxRecordings = 32;
constexpr int kExitUnreadable = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoPoints = 3;
constexpr unsigned kReadLimitSeconds = 30;
constexpr const char* kReadStuck =
    "tavorin-export: reading the recordings took more than 30 s; one of them is damaged.\n";

constexpr const char* kUsage = "Usage: tavorin-export [--frame N] [--out FILE] REC.h5 [REC2.h5 ...]";
constexpr const char* kHelp =
    "Writes frame N (default 0) of up to 32 recordings as one binary PLY (default export.ply), each\n"
    "camera's points placed in the room by its configuration file.\n"
    "Exit codes: 0 the PLY was written; 1 a recording or its frame cannot be read (or reading takes\n"
    "more than 30 s), or the PLY cannot be written; 2 wrong arguments; 3 the frame holds no usable\n"
    "point (nothing is written).";

struct Options {
    std::uint32_t frame = 0;
    std::string out = "export.ply";
    std::vector<std::string> recordings;
};

bool parseFrame(const char* text, std::uint32_t& frame)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (!*text || *end || text[0] == '-' || errno == ERANGE || value > 0xffffffffUL) {
        console::err("tavorin-export: --frame wants a frame index from 0 to 4294967295, not \"", text, "\".");
        return false;
    }
    frame = static_cast<std::uint32_t>(value);
    return true;
}

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--frame" && i + 1 < argc) {
            if (!parseFrame(argv[++i], options.frame))
                return false;
        } else if (arg == "--out" && i + 1 < argc) {
            options.out = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            console::err("tavorin-export: ", arg, " is not an option, or lacks its value.");
            return false;
        } else {
            options.recordings.push_back(arg);
        }
    }
    return !options.recordings.empty() && options.recordings.size() <= kMaxRecordings;
}

struct PlyVertex {
    float x, y, z;
    std::uint8_t red, green, blue;
};

bool validPoint(const float* p)
{
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2])
        && !(p[0] == 0.0f && p[1] == 0.0f && p[2] == 0.0f);
}

// The recordings' colour is B, G, R, A.
void appendRoomPoints(HDF5RecordingReader& reader, std::vector<PlyVertex>& vertices)
{
    const Mat4 T_room_camera = reader.modelMatrix();
    const float* points = reader.points();
    const std::uint8_t* colours = reader.colors();
    const std::size_t pixels = std::size_t(reader.width()) * reader.height();
    for (std::size_t k = 0; k < pixels; ++k) {
        const float* p = points + 4 * k;
        if (!validPoint(p))
            continue;
        const Vec4 room = T_room_camera * Vec4::point(p[0], p[1], p[2]);
        const std::uint8_t* c = colours ? colours + 4 * k : nullptr;
        vertices.push_back({room.x, room.y, room.z, c ? c[2] : std::uint8_t(255), c ? c[1] : std::uint8_t(255),
                            c ? c[0] : std::uint8_t(255)});
    }
}

bool isIdentity(const Mat4& matrix)
{
    constexpr float kTolerance = 1e-6f;
    const Mat4 identity;
    for (int i = 0; i < 16; ++i)
        if (std::fabs(matrix.m[i] - identity.m[i]) > kTolerance)
            return false;
    return true;
}

// The frame the points are in, from the configuration files' matrices (one per recording): a
// calibration leaves its reference camera at the identity, a room registration moves every camera
// off it.
std::string frameOf(const std::vector<std::string>& recordings, const std::vector<Mat4>& matrices)
{
    std::size_t identities = 0;
    std::size_t reference = 0;
    for (std::size_t i = matrices.size(); i-- > 0;)
        if (isIdentity(matrices[i])) {
            ++identities;
            reference = i;
        }
    if (identities == 0)
        return "room coordinates in metres";
    if (identities == matrices.size())
        return "each camera's own coordinates in metres, no calibration stored";
    const std::string& path = recordings[reference];
    const std::size_t slash = path.find_last_of('/');
    return "the coordinates of camera " + (slash == std::string::npos ? path : path.substr(slash + 1))
        + " in metres, no room registration stored";
}

bool writePlyStream(const std::string& path, const std::vector<PlyVertex>& vertices, const std::string& frame)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "ply\nformat binary_little_endian 1.0\ncomment tavorin-export, " << frame << "\n"
        << "element vertex " << vertices.size() << "\n"
        << "property float x\nproperty float y\nproperty float z\n"
        << "property uchar red\nproperty uchar green\nproperty uchar blue\nend_header\n";
    for (const PlyVertex& v : vertices) {
        char record[15];
        std::memcpy(record, &v.x, 4);
        std::memcpy(record + 4, &v.y, 4);
        std::memcpy(record + 8, &v.z, 4);
        record[12] = static_cast<char>(v.red);
        record[13] = static_cast<char>(v.green);
        record[14] = static_cast<char>(v.blue);
        out.write(record, sizeof record);
    }
    out.close();
    return static_cast<bool>(out);
}

// Through a temporary file beside the target, renamed over it once complete: no half-written PLY.
bool writePly(const std::string& path, const std::vector<PlyVertex>& vertices, const std::string& frame)
{
    const std::string partial = path + ".tmp-" + std::to_string(::getpid());
    if (writePlyStream(partial, vertices, frame) && std::rename(partial.c_str(), path.c_str()) == 0)
        return true;
    std::remove(partial.c_str());
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = optionsOrExit<Options>(argc, argv, parseOptions, kUsage, kHelp, kExitUsage);
    std::vector<PlyVertex> vertices;
    std::vector<Mat4> matrices;
    StepWatchdog::arm(kReadLimitSeconds, kReadStuck, kExitUnreadable);
    for (const std::string& path : options.recordings) {
        HDF5RecordingReader reader;
        StepWatchdog::doing(0, "opening " + path);
        if (!reader.open(path, true)) {
            console::err("Cannot export ", path, ": not a readable recording.");
            return kExitUnreadable;
        }
        StepWatchdog::doing(0, "reading frame " + std::to_string(options.frame) + " of " + path);
        if (!reader.loadFrame(options.frame)) {
            console::err("Cannot export frame ", options.frame, " of ", path, " (", reader.frameCount(), " frames).");
            return kExitUnreadable;
        }
        appendRoomPoints(reader, vertices);
        matrices.push_back(reader.modelMatrix());
    }
    StepWatchdog::disarm();
    if (vertices.empty()) {
        console::err("Cannot export frame ", options.frame, ": it holds no usable point; nothing written.");
        return kExitNoPoints;
    }
    const std::string frame = frameOf(options.recordings, matrices);
    if (!writePly(options.out, vertices, frame)) {
        console::err("Unable to write ", options.out);
        return kExitUnreadable;
    }
    console::out("Wrote ", vertices.size(), " points to ", options.out, ", ", frame);
    return 0;
}
