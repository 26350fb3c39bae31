#include "acquisition/config/CameraConfigFiles.h"

#include "acquisition/config/CameraTfFile.h"
#include "acquisition/config/DepthCorrectionFile.h"
#include "base/Console.h"
#include "base/RegularFile.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace tavorin {

namespace {

constexpr const char* kMatrixKey = "modelMatrix";
constexpr std::size_t kMatrixSize = 16;
constexpr const char* kBackupSuffix = ".bak";
constexpr std::size_t kKeptBackups = 5; // copies of earlier contents kept per file

// Recording file names are kinect_<12-digit serial>.h5: the serial starts 8 characters after the
// last "/" (counting the "/"), and the folder tag is the 3 characters before it.
constexpr std::size_t kSerialOffset = 8;
constexpr std::size_t kSerialLength = 12;
constexpr std::size_t kFolderTagLength = 3;

std::string recordingSet(const std::string& folderTag)
{
    if (folderTag == "OP1" || folderTag == "OP2" || folderTag == "OP3")
        return "a";
    if (folderTag == "OP4" || folderTag == "OP5" || folderTag == "OP6")
        return "b";
    if (folderTag == "OP7" || folderTag == "OP8" || folderTag == "OP9")
        return "c";
    if (folderTag == ".h5")
        return "velto";
    return "default";
}

// Short paths give the characters that exist instead of reading past either end.
std::string clampedSubstring(const std::string& text, std::size_t start, std::size_t length)
{
    return start < text.size() ? text.substr(start, length) : std::string();
}

bool isPathSafe(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// A configuration file that cannot give a matrix; the message says why.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "an array", "a string", "null", ... for the messages.
std::string kindOf(const nlohmann::json& value)
{
    const std::string name = value.type_name();
    if (value.is_null())
        return name;
    return (name[0] == 'a' || name[0] == 'o' ? "an " : "a ") + name;
}

// A configuration file holds a few hundred bytes: anything far larger is refused before it is read.
constexpr std::size_t kMaxConfigBytes = 1 << 20;
// A file that is replaced may be a still view reference (an image of a few hundred kilobytes).
constexpr std::size_t kMaxKeptBytes = 16 << 20;

// The whole file; false for a file that does not exist.
bool readConfigText(const std::string& path, std::string& text, std::size_t maxBytes = kMaxConfigBytes)
{
    std::string fault;
    switch (readRegularFile(path, maxBytes, text, fault)) {
    case FileRead::Read:
        return true;
    case FileRead::Missing:
        return false;
    case FileRead::Refused:
        break;
    }
    throw Refused(fault);
}

const nlohmann::json& matrixMember(const nlohmann::json& document)
{
    if (!document.is_object())
        throw Refused("the top level is " + kindOf(document) + ", not an object");
    const auto member = document.find(kMatrixKey);
    if (member == document.end())
        throw Refused("it has no \"modelMatrix\"");
    if (!member->is_array())
        throw Refused("\"modelMatrix\" is " + kindOf(*member) + ", not an array");
    if (member->size() != kMatrixSize)
        throw Refused("\"modelMatrix\" has " + std::to_string(member->size()) + " elements, not 16");
    return *member;
}

float matrixElement(const nlohmann::json& member, std::size_t i)
{
    const nlohmann::json& element = member.at(i);
    if (!element.is_number())
        throw Refused("element " + std::to_string(i) + " of \"modelMatrix\" is not a number");
    const auto value = static_cast<float>(element.get<double>());
    if (!std::isfinite(value))
        throw Refused("element " + std::to_string(i) + " of \"modelMatrix\" is beyond the float range");
    return value;
}

// Why `matrix` cannot place a camera (a singular one collapses its cloud), or empty.
std::string matrixDefect(const Mat4& matrix)
{
    for (float value : matrix.m)
        if (!std::isfinite(value))
            return "the matrix is not finite";
    const float det = determinant(matrix);
    if (!(std::fabs(det) >= kSingularDeterminant))
        return "the matrix is singular (determinant " + std::to_string(det) + ")";
    return std::string();
}

Mat4 parseModelMatrix(const std::string& text)
{
    const nlohmann::json document = nlohmann::json::parse(text);
    const nlohmann::json& member = matrixMember(document);
    std::array<float, kMatrixSize> values;
    for (std::size_t i = 0; i < kMatrixSize; ++i)
        values[i] = matrixElement(member, i);
    const Mat4 matrix(values);
    const std::string defect = matrixDefect(matrix);
    if (!defect.empty())
        throw Refused(defect);
    return matrix;
}

// The whole of `text` into the open file, then to the disk; false with errno set.
bool writeAllAndSync(int fd, const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0;
}

// Creates or truncates `temporary` (never through a symbolic link) and fills it; false with errno
// set, after removing what it created.
bool writeTemporary(const std::string& temporary, const std::string& text)
{
    constexpr mode_t kFileMode = 0666; // before the umask, as any new file
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, kFileMode);
    if (fd < 0)
        return false;
    const bool filled = writeAllAndSync(fd, text);
    int error = errno;
    const bool closed = ::close(fd) == 0;
    if (filled && !closed)
        error = errno;
    if (filled && closed)
        return true;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
}

// A kept copy of a file: "<file>.<YYYYMMDD>_<HHMMSS>.bak", or "<file>.<YYYYMMDD>_<HHMMSS>_<n>.bak"
// for the n-th further copy within that second; ordered by time, then n.
struct Backup {
    std::string stamp;
    unsigned long n = 0;
    std::filesystem::path path;
    bool operator<(const Backup& other) const { return std::tie(stamp, n) < std::tie(other.stamp, other.n); }
};

// The copies of `file` in its folder.
std::vector<Backup> backupsOf(const std::filesystem::path& file)
{
    constexpr std::size_t kStampLength = 15; // YYYYMMDD_HHMMSS
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    const std::string prefix = file.filename().string() + ".";
    const std::string suffix = kBackupSuffix;
    std::vector<Backup> copies;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < prefix.size() + kStampLength + suffix.size() || name.compare(0, prefix.size(), prefix) != 0
            || name.compare(name.size() - suffix.size(), std::string::npos, suffix) != 0)
            continue;
        const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        Backup copy{middle.substr(0, kStampLength), 0, entry.path()};
        if (middle.size() > kStampLength + 1 && middle[kStampLength] == '_')
            copy.n = std::strtoul(middle.c_str() + kStampLength + 1, nullptr, 10);
        else if (middle.size() != kStampLength)
            continue;
        copies.push_back(copy);
    }
    std::sort(copies.begin(), copies.end());
    return copies;
}

// The name of a new copy of `path` at the local time, after every copy of that second.
std::string backupPath(const std::string& path)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &local);
    std::optional<unsigned long> last;
    for (const Backup& copy : backupsOf(path))
        if (copy.stamp == stamp)
            last = copy.n;
    const std::string base = path + "." + stamp;
    return last ? base + "_" + std::to_string(*last + 1) + kBackupSuffix : base + kBackupSuffix;
}

// The copies of `path` beyond the newest kKeptBackups are removed.
void pruneBackups(const std::string& path)
{
    const std::vector<Backup> copies = backupsOf(path);
    std::error_code error;
    for (std::size_t i = 0; i + kKeptBackups < copies.size(); ++i)
        std::filesystem::remove(copies[i].path, error);
}

} // namespace

std::string pathSafeSerial(const std::string& serial)
{
    std::string name = serial;
    for (char& c : name)
        if (!isPathSafe(c))
            c = '_';
    return name;
}

std::string liveCameraConfigPath(const std::string& serial)
{
    return "config/cameras/azure/azure_kinect_" + pathSafeSerial(serial) + ".json";
}

std::string besideModelMatrix(const std::string& modelMatrixPath, const std::string& suffix)
{
    constexpr char kJson[] = ".json";
    constexpr std::size_t kJsonLength = sizeof kJson - 1;
    if (modelMatrixPath.empty())
        return {};
    const std::size_t size = modelMatrixPath.size();
    const bool json = size >= kJsonLength && modelMatrixPath.compare(size - kJsonLength, kJsonLength, kJson) == 0;
    return modelMatrixPath.substr(0, json ? size - kJsonLength : size) + suffix;
}

std::string networkCameraConfigPath(const std::string& nameSpace)
{
    return "config/cameras/ros/" + pathSafeSerial(nameSpace) + ".json";
}

std::string recordingConfigPath(const std::string& recordingPath)
{
    const std::size_t slash = recordingPath.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    const std::string serial = clampedSubstring(recordingPath, slash + kSerialOffset, kSerialLength);
    const std::size_t tagStart = slash >= kFolderTagLength ? slash - kFolderTagLength : 0;
    const std::string folderTag = recordingPath.substr(tagStart, slash - tagStart);
    console::out("Filename Serial: ", serial, " | FilenameOP: ", folderTag);
    return "config/cameras/hdf5/" + recordingSet(folderTag) + "/kinect_" + serial + ".json";
}

bool loadModelMatrix(const std::string& path, Mat4& matrix)
{
    try {
        std::string text;
        if (!readConfigText(path, text)) {
            console::out("No camera configuration at ", path, " yet");
            return false;
        }
        matrix = parseModelMatrix(text);
        return true;
    } catch (const std::exception& error) {
        console::err("Ignoring camera configuration ", path, ": ", error.what());
        return false;
    }
}

bool writeModelMatrix(const std::string& path, const Mat4& matrix)
{
    const std::string defect = matrixDefect(matrix);
    if (!defect.empty()) {
        console::err("Unable to write camera configuration ", path, ": ", defect);
        return false;
    }
    nlohmann::json values = nlohmann::json::array();
    for (float value : matrix.m)
        values.push_back(static_cast<double>(value));
    const nlohmann::json document = {{kMatrixKey, values}};
    return replaceKeptFile(path, document.dump(4), "camera configuration", "Stored Depth Camera Configuration to ");
}

bool replaceKeptFile(const std::string& path, const std::string& text, const std::string& what,
                     const std::string& storedLine)
{
    std::string previous;
    bool hasPrevious = false;
    try {
        hasPrevious = readConfigText(path, previous, kMaxKeptBytes);
    } catch (const Refused& refused) {
        console::err("Unable to write ", what, " ", path, ": the file there cannot be kept (", refused.what(), ")");
        return false;
    }
    if (hasPrevious && previous == text) {
        console::out(storedLine, path, " (unchanged, not rewritten)");
        return true;
    }
    // A configuration folder that is missing (a program started outside its checkout) is made.
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code made;
    if (!hasPrevious && !folder.empty())
        std::filesystem::create_directories(folder, made);
    const std::string temporary = path + ".tmp";
    if (!writeTemporary(temporary, text)) {
        console::err("Unable to write ", what, " ", path, ": ", std::strerror(errno));
        return false;
    }
    if (hasPrevious) {
        const std::string backup = backupPath(path);
        if (!writeTemporary(backup, previous)) {
            const int error = errno;
            ::unlink(temporary.c_str());
            console::err("Unable to write ", what, " ", path, ": its previous content cannot be kept as ", backup, " (",
                         std::strerror(error), ")");
            return false;
        }
        console::out("Kept the previous ", path, " as ", backup);
        pruneBackups(path);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        console::err("Unable to replace ", what, " ", path, ": ", std::strerror(error));
        return false;
    }
    console::out(storedLine, path);
    return true;
}

bool storeCalibrations(const SceneState& state)
{
    const std::string parent = tfParentFrame(state.cameras);
    bool allWritten = true;
    for (const std::shared_ptr<DepthCameraData>& camera : state.cameras) {
        if (camera->configPath.empty())
            continue;
        allWritten = writeModelMatrix(camera->configPath, camera->modelMatrix) && allWritten;
        // A correction file is written once a camera has a correction, and kept true after that.
        const std::string depthPath = depthCorrectionPath(camera->configPath);
        std::error_code error;
        if (!camera->depthCorrection.isIdentity() || std::filesystem::exists(depthPath, error))
            allWritten = writeDepthCorrection(depthPath, camera->depthCorrection) && allWritten;
        if (!camera->frameId.empty())
            allWritten = writeCameraTfFrames(cameraTfPath(camera->configPath), {parent, camera->frameId}) && allWritten;
    }
    return allWritten;
}

} // namespace tavorin
