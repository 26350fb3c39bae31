#include "acquisition/recording/HDF5RecordingReader.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "acquisition/config/CameraTfFile.h"
#include "acquisition/recording/ChunkIntegrity.h"
#include "acquisition/config/DepthCorrectionFile.h"
#include "acquisition/model/DepthToPoints.h"
#include "acquisition/recording/FrameChunkReader.h"
#include "acquisition/recording/HDF5DataSetChecks.h"
#include "acquisition/recording/HDF5RootHeapCheck.h"
#include "acquisition/model/PinholeParameters.h"
#include "acquisition/model/RawCalibrationBlob.h"
#include "acquisition/model/RayTable.h"
#include "acquisition/recording/RecordingDataSets.h"
#include "acquisition/recording/RecordingPlausibility.h"
#include "base/Console.h"

#include <hdf5.h>
#include <k4a/k4a.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>

namespace tavorin {

namespace {

using recording::kColourSet, recording::kDepthSet, recording::kParameterSet, recording::kRawCalibrationSet,
    recording::kRosFrameIdSet, recording::kRosNamespaceSet, recording::kTimestampSet;

constexpr float kFramePeriod = 1.0f / 30.0f; // seconds, frames without timestamps
constexpr int kColourChannels = 4;
constexpr std::uint8_t kFillColour[kColourChannels] = {255, 255, 0, 255};

// Bounds on what a recording may ask us to allocate.
constexpr hsize_t kMaxImageSide = 4096;
constexpr hsize_t kMinImageSide = 4; // below this a frame holds nothing to calibrate or export
constexpr hsize_t kMaxFrames = hsize_t(1) << 22;
constexpr hsize_t kMaxParameters = 4096;
constexpr hsize_t kMaxRawCalibrationBytes = 1 << 20;
constexpr hsize_t kMaxRosNameBytes = 257; // 256 characters and a NUL
constexpr std::size_t kPinholeParameters = 4;

constexpr int kMaxDims = 8;

// Data set and its file data space; both closed by the destructor when open.
struct DataSet {
    hid_t set = H5I_INVALID_HID;
    hid_t space = H5I_INVALID_HID;
    int dims = -1; // -1: not open
    bool named = false; // the file has a link of the data set's name
    hsize_t extent[kMaxDims] = {};
    ChunkIntegrity chunks; // attached once the data set is accepted

    void close()
    {
        if (space >= 0)
            H5Sclose(space);
        if (set >= 0)
            H5Dclose(set);
        set = space = H5I_INVALID_HID;
        dims = -1;
    }
};

// `access`: the link access list under which external links are not followed.
bool openDataSet(hid_t file, const char* name, DataSet& out, hid_t access)
{
    if (file < 0 || H5Lexists(file, name, access) <= 0)
        return false;
    out.named = true;
    out.set = H5Dopen2(file, name, access);
    if (out.set < 0)
        return false;
    out.space = H5Dget_space(out.set);
    if (out.space < 0)
        return false;
    const int dims = H5Sget_simple_extent_ndims(out.space);
    if (dims < 0 || dims > kMaxDims)
        return false;
    out.dims = dims;
    H5Sget_simple_extent_dims(out.space, out.extent, nullptr);
    return true;
}

// Opens `name` as openDataSet does; false when the set is missing (out.named is false; nothing is
// printed: the optional data sets may be left out) or does not have `dims` dimensions, after the
// line "Expected <dims> dimension(s) in <what> data space! Got <n>.<rest>" (-1 when it cannot be
// opened).
bool openWithDimensions(hid_t file, const char* name, DataSet& out, hid_t access, int dims, const char* what,
                        const char* rest)
{
    openDataSet(file, name, out, access);
    if (out.dims == dims)
        return true;
    if (!out.named)
        return false;
    const char* dimensions = dims == 1 ? " dimension in " : " dimensions in ";
    console::err("Expected ", dims, dimensions, what, " data space! Got ", out.dims, ".", rest);
    return false;
}

hid_t memorySpace(std::initializer_list<hsize_t> extent)
{
    const std::vector<hsize_t> dims(extent);
    return H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
}

// Empty when the data set may be read: its stored type converts exactly into `memory`, its
// values lie in the file and its chunks can be checked before each read.
std::string dataSetFault(DataSet& data, RecordingMemoryType memory)
{
    std::string fault = storedTypeFault(data.set, memory);
    if (fault.empty())
        fault = storageFault(data.set);
    if (fault.empty())
        fault = data.chunks.attach(data.set);
    return fault;
}

// A selection of one frame in the file space followed by the read; false on any HDF5 failure or
// when a chunk of the selection does not decode to its size.
bool readHyperslab(DataSet& data, hid_t memSpace, hid_t memType, const hsize_t* start, const hsize_t* count,
                   void* buffer)
{
    return data.chunks.intact(start, count)
        && H5Sselect_hyperslab(data.space, H5S_SELECT_SET, start, nullptr, count, nullptr) >= 0
        && H5Dread(data.set, memType, memSpace, data.space, H5P_DEFAULT, buffer) >= 0;
}

// True when the path names a regular file that this process may read; else prints why not.
bool pathOpens(const std::string& path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    std::string reason;
    if (error) {
        reason = error.message();
    } else if (std::filesystem::is_directory(status)) {
        reason = "it is a directory";
    } else if (!std::filesystem::is_regular_file(status)) {
        reason = "it is not a regular file";
    } else if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
    } else {
        reason = std::strerror(errno);
    }
    if (reason.empty())
        return true;
    console::err("Unable to open ", path, ": ", reason);
    return false;
}

// Empty when the depth camera's model holds only finite numbers and plausible intrinsics.
std::string calibrationFault(const k4a_calibration_camera_t& camera)
{
    const auto& p = camera.intrinsics.parameters;
    const std::size_t count = std::min<std::size_t>(camera.intrinsics.parameter_count, std::size(p.v));
    const bool finite = std::all_of(p.v, p.v + count, [](float v) { return std::isfinite(v); })
        && std::isfinite(camera.metric_radius);
    if (!finite)
        return "the raw calibration's depth camera model holds numbers that are not finite.";
    return intrinsicsFault("the raw calibration's depth camera", p.param.cx, p.param.cy, p.param.fx, p.param.fy);
}

// What became of an optional row of bytes.
enum class RowRead {
    Read,
    Absent,  // the recording has no such data set
    Ignored, // a shape, size or read that does not give the row; said on standard error
    Refused, // its link, stored type or storage refuses the whole recording; said
};

// A ROS 2 namespace as topics carry it after "rt/": letters, digits, '_' and '/', 1 to 256 of them.
bool isRosNamespace(const std::string& name)
{
    return !name.empty() && name.size() < kMaxRosNameBytes && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '/';
    });
}

// The text of a NUL-terminated row of bytes (a missing NUL is taken as there); a NUL inside
// leaves it unused: empty.
std::string textOf(const std::vector<std::uint8_t>& bytes)
{
    std::string text(bytes.begin(), bytes.end());
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text.find('\0') == std::string::npos ? text : std::string();
}

} // namespace

struct HDF5RecordingReader::Handles {
    hid_t file = H5I_INVALID_HID;
    hid_t linkAccess = linkAccessInsideFile();
    DataSet depth, parameters, rawCalibration, timestamps, colour, rosNamespace, rosFrameId;
    hid_t depthMemory = H5I_INVALID_HID;
    hid_t parameterMemory = H5I_INVALID_HID;
    hid_t colourMemory = H5I_INVALID_HID;
    FrameChunkReader depthChunks, colourChunks; // borrow depth.set and colour.set
    k4a_calibration_t calibration{};

    RowRead readByteRow(const HDF5RecordingReader& reader, DataSet& data, const char* setName,
                        const char* dimensionsName, const std::string& what, hsize_t maxBytes,
                        std::vector<std::uint8_t>& bytes);

    ~Handles()
    {
        for (hid_t space : {depthMemory, parameterMemory, colourMemory})
            if (space >= 0)
                H5Sclose(space);
        for (DataSet* data : {&depth, &parameters, &rawCalibration, &timestamps, &colour, &rosNamespace, &rosFrameId})
            data->close();
        if (file >= 0)
            H5Fclose(file);
        if (linkAccess >= 0)
            H5Pclose(linkAccess);
    }
};

HDF5RecordingReader::HDF5RecordingReader() : h5(std::make_unique<Handles>()) {}

HDF5RecordingReader::~HDF5RecordingReader() = default;

void HDF5RecordingReader::silenceLibraryErrors()
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
}

void HDF5RecordingReader::clearLibraryErrors()
{
    H5Eclear2(H5E_DEFAULT);
}

bool HDF5RecordingReader::open(const std::string& path, bool colour)
{
    name = path;
    colorEnabled = colour;
    silenceLibraryErrors();

    if (!pathOpens(path))
        return false;
    if (H5Fis_hdf5(path.c_str()) == 0) {
        console::err("Unable to open ", path, "!");
        return false;
    }
    console::out("Open ", path);
    const std::string heapFault = rootHeapFault(path);
    if (!heapFault.empty())
        return refuse(heapFault + ".");
    h5->file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
    if (h5->file < 0) {
        console::err("Unable to open ", path, "!");
        return false;
    }
    if (!openDepth() || !openCameraParameters() || !openRawCalibration() || !openTimestamps() || !openRosNames())
        return false;
    if (rawCalibrationSize == 0) {
        if (parameterCount < kPinholeParameters)
            return refuse(std::to_string(parameterCount)
                          + " camera parameters and no raw calibration; the pinhole model needs 4.");
        if (!checkPinholeParameters())
            return false;
    }
    if (colorEnabled && !openColour())
        return false;
    if (colour) {
        console::out("Initializing Color Values...");
        colorBuffer.resize(std::size_t(imageWidth) * imageHeight * kColourChannels);
        fillColour();
        console::out("Initialized!!");
    }
    loadConfig();
    return true;
}

bool HDF5RecordingReader::refuse(const std::string& reason) const
{
    console::err("Refusing ", name, ": ", reason);
    return false;
}

// Every data set is checked (dataSetFault) before anything is read from it.
bool HDF5RecordingReader::accepted(const char* setName, const std::string& fault) const
{
    return fault.empty() || refuse(std::string(setName) + " " + fault + ".");
}

// Only links that stay inside the recording are followed.
bool HDF5RecordingReader::linkAccepted(const char* setName) const
{
    return accepted(setName, linkFault(h5->file, setName, h5->linkAccess));
}

bool HDF5RecordingReader::openDepth()
{
    DataSet& data = h5->depth;
    if (!linkAccepted(kDepthSet))
        return false;
    if (!openDataSet(h5->file, kDepthSet, data, h5->linkAccess)) {
        console::err("Depth-DataSet not available!");
        return false;
    }
    if (data.dims != 3) {
        console::err("Expected 3 dimensions for depth data set (Height x Width x Frame)! Got ", data.dims, ".");
        return false;
    }
    console::out("DepthDataSpace: ", data.extent[0], " x ", data.extent[1], " x ", data.extent[2]);
    if (!accepted(kDepthSet, dataSetFault(data, RecordingMemoryType::Numbers)))
        return false;
    if (data.extent[0] == 0 || data.extent[1] == 0 || data.extent[0] > kMaxImageSide
        || data.extent[1] > kMaxImageSide || data.extent[2] == 0 || data.extent[2] > kMaxFrames)
        return refuse("depth data set of " + std::to_string(data.extent[0]) + " x " + std::to_string(data.extent[1])
                      + " x " + std::to_string(data.extent[2]) + " is empty or too large.");
    if (data.extent[0] < kMinImageSide || data.extent[1] < kMinImageSide)
        return refuse("depth images of " + std::to_string(data.extent[1]) + " x " + std::to_string(data.extent[0])
                      + " pixels are too small; each side needs at least " + std::to_string(kMinImageSide)
                      + " pixels.");
    imageHeight = static_cast<std::uint32_t>(data.extent[0]);
    imageWidth = static_cast<std::uint32_t>(data.extent[1]);
    frames = static_cast<std::uint32_t>(data.extent[2]);
    depth.assign(std::size_t(imageWidth) * imageHeight, 0.0f);
    depthMm16.assign(depth.size(), 0);
    h5->depthMemory = memorySpace({imageHeight, imageWidth, 1});
    h5->depthChunks.attach(data.set, sizeof(std::uint16_t), depth.size());
    return true;
}

bool HDF5RecordingReader::openCameraParameters()
{
    DataSet& data = h5->parameters;
    if (!linkAccepted(kParameterSet))
        return false;
    if (!openWithDimensions(h5->file, kParameterSet, data, h5->linkAccess, 2, "camera parameter", "")) {
        if (data.dims >= 0) {
            console::err("Refusing ", name, ": the camera parameters need one row per frame.");
            return false;
        }
        console::out("Camera Parameter Count: 0");
        return true;
    }
    if (!accepted(kParameterSet, dataSetFault(data, RecordingMemoryType::Numbers)))
        return false;
    if (data.extent[0] < frames || data.extent[1] > kMaxParameters)
        return refuse(std::to_string(data.extent[0]) + " camera parameter rows of " + std::to_string(data.extent[1])
                      + " for " + std::to_string(frames) + " depth frames.");
    parameterCount = static_cast<std::uint32_t>(data.extent[1]);
    console::out("Camera Parameter Count: ", parameterCount);
    cameraParameters.assign(parameterCount, 0.0f);
    if (parameterCount > 0)
        h5->parameterMemory = memorySpace({1, parameterCount});
    return true;
}

// A row of bytes (the first of a 1 x n data set, n up to maxBytes), checked as every data set is;
// the caller says what a missing one means. `what` names it in the lines.
RowRead HDF5RecordingReader::Handles::readByteRow(const HDF5RecordingReader& reader, DataSet& data,
                                                  const char* setName, const char* dimensionsName,
                                                  const std::string& what, hsize_t maxBytes,
                                                  std::vector<std::uint8_t>& bytes)
{
    if (!reader.linkAccepted(setName))
        return RowRead::Refused;
    if (!openWithDimensions(file, setName, data, linkAccess, 2, dimensionsName, " Not loaded."))
        return data.named ? RowRead::Ignored : RowRead::Absent;
    if (!reader.accepted(setName, dataSetFault(data, RecordingMemoryType::Bytes)))
        return RowRead::Refused;
    const hsize_t size = data.extent[1];
    if (data.extent[0] == 0 || size == 0 || size > maxBytes) {
        console::err("Ignoring the ", what, " of ", reader.name, ": ", data.extent[0], " rows of ", size, " bytes.");
        return RowRead::Ignored;
    }
    bytes.assign(size, 0);
    const hsize_t start[2] = {0, 0};
    const hsize_t count[2] = {1, size};
    const hid_t rowSpace = memorySpace({1, size});
    const bool read = readHyperslab(data, rowSpace, H5T_NATIVE_UINT8, start, count, bytes.data());
    H5Sclose(rowSpace);
    if (read)
        return RowRead::Read;
    console::err("Unable to read the ", what, " of ", reader.name, ".");
    bytes.clear();
    return RowRead::Ignored;
}

bool HDF5RecordingReader::openRawCalibration()
{
    switch (h5->readByteRow(*this, h5->rawCalibration, kRawCalibrationSet, "azure camera parameter",
                            "raw calibration", kMaxRawCalibrationBytes, rawCalibration)) {
    case RowRead::Refused:
        return false;
    case RowRead::Absent:
        console::out("No raw calibration in ", name, ": its points come from the pinhole parameters.");
        return true;
    case RowRead::Ignored:
        return true;
    case RowRead::Read:
        break;
    }
    console::out("Azure Kinect Parameter Count: ", rawCalibration.size());
    rawCalibrationSize = static_cast<std::uint32_t>(rawCalibration.size());
    return loadCalibration();
}

// Optional: only recordings of network cameras have them. A name that is no name is left out,
// with a line that says which names are taken.
bool HDF5RecordingReader::openRosNames()
{
    const auto readName = [this](DataSet& data, const char* setName, const char* what, bool (*isName)(const std::string&),
                                 const char* rule, std::string& out) {
        std::vector<std::uint8_t> bytes;
        const RowRead read = h5->readByteRow(*this, data, setName, what, what, kMaxRosNameBytes, bytes);
        if (read != RowRead::Read)
            return read != RowRead::Refused;
        const std::string text = textOf(bytes);
        if (isName(text))
            out = text;
        else
            console::err("Ignoring the ", what, " of ", name, ": it is no name (", rule, ").");
        return true;
    };
    return readName(h5->rosNamespace, kRosNamespaceSet, "ROS namespace", isRosNamespace,
                    "1 to 256 letters, digits, '_' and '/'", rosNamespaceName)
        && readName(h5->rosFrameId, kRosFrameIdSet, "ROS frame id", isFrameName,
                    "1 to 256 printable ASCII characters without spaces", rosFrameIdName);
}

// The SDK wants the blob's terminating NUL inside the given size, and not every recorder stores
// it: the blob is parsed from a copy with a NUL appended.
bool HDF5RecordingReader::loadCalibration()
{
    std::vector<char> blob(rawCalibration.begin(), rawCalibration.end());
    blob.push_back('\0');
    if (k4a_calibration_get_from_raw(blob.data(), blob.size(), K4A_DEPTH_MODE_NFOV_UNBINNED, K4A_COLOR_RESOLUTION_720P,
                                     &h5->calibration)
        != K4A_RESULT_SUCCEEDED) {
        const std::string fault = rawCalibrationFault(rawCalibration);
        console::err("Failed to load calibration from raw calibration blob! ", name, ": the blob ",
                     fault.empty() ? "holds values the SDK refused" : fault, ".");
        return false;
    }
    const k4a_calibration_camera_t& camera = h5->calibration.depth_camera_calibration;
    if (camera.resolution_width != static_cast<int>(imageWidth)
        || camera.resolution_height != static_cast<int>(imageHeight))
        return refuse("its raw calibration describes a depth camera of " + std::to_string(camera.resolution_width)
                      + " x " + std::to_string(camera.resolution_height) + " pixels, its depth images have "
                      + std::to_string(imageWidth) + " x " + std::to_string(imageHeight) + ".");
    const std::string fault = calibrationFault(camera);
    return fault.empty() || refuse(fault);
}

bool HDF5RecordingReader::openTimestamps()
{
    DataSet& data = h5->timestamps;
    if (!linkAccepted(kTimestampSet))
        return false;
    if (!openWithDimensions(h5->file, kTimestampSet, data, h5->linkAccess, 1, "timestamp", "")) {
        if (!data.named)
            console::out("No timestamps in ", name, ": its frames are taken 1/30 s apart.");
        return true;
    }
    if (!accepted(kTimestampSet, dataSetFault(data, RecordingMemoryType::Numbers)))
        return false;
    if (data.extent[0] < frames)
        return refuse(std::to_string(data.extent[0]) + " timestamps for " + std::to_string(frames) + " depth frames.");
    timestamps.assign(frames, 0.0);
    const hsize_t start[1] = {0};
    const hsize_t count[1] = {frames};
    const hid_t memory = memorySpace({frames});
    const bool read = readHyperslab(data, memory, H5T_NATIVE_DOUBLE, start, count, timestamps.data());
    H5Sclose(memory);
    if (!read)
        return refuse("the timestamps cannot be read.");
    const std::string fault = timestampFault(timestamps);
    if (!fault.empty())
        return refuse(fault);
    hasTimestamps = true;
    return true;
}

// Every frame's pinhole intrinsics, read in blocks of rows (columns 0 to 3 only).
bool HDF5RecordingReader::checkPinholeParameters()
{
    constexpr hsize_t kRowsPerRead = 4096;
    std::vector<float> block(kRowsPerRead * kPinholeParameters);
    for (hsize_t first = 0; first < frames; first += kRowsPerRead) {
        const hsize_t rows = std::min<hsize_t>(kRowsPerRead, frames - first);
        const hsize_t start[2] = {first, 0};
        const hsize_t count[2] = {rows, kPinholeParameters};
        const hid_t memory = memorySpace({rows, kPinholeParameters});
        const bool read = readHyperslab(h5->parameters, memory, H5T_NATIVE_FLOAT, start, count, block.data());
        H5Sclose(memory);
        if (!read)
            return refuse("the camera parameters cannot be read.");
        for (hsize_t row = 0; row < rows; ++row) {
            const float* p = &block[row * kPinholeParameters];
            const std::string fault = intrinsicsFault("frame " + std::to_string(first + row), p[0], p[1], p[2], p[3]);
            if (!fault.empty())
                return refuse(fault);
        }
    }
    return true;
}

// False refuses the recording; colour problems that the fill colour covers clear colour enabled.
bool HDF5RecordingReader::openColour()
{
    DataSet& data = h5->colour;
    if (!linkAccepted(kColourSet))
        return false;
    if (!openDataSet(h5->file, kColourSet, data, h5->linkAccess)) {
        console::err("Color image not available. Ignore it.");
        colorEnabled = false;
        return true;
    }
    if (data.dims != 4) {
        console::err("Expected 4 dimensions for color image data set (Height x Width x Frame)! Got ", data.dims, ".");
        colorEnabled = false;
        return true;
    }
    if (data.extent[0] != imageHeight || data.extent[1] != imageWidth) {
        console::err("Expected the color image resolution has an identical resolution like the depth image! ");
        colorEnabled = false;
        return true;
    }
    if (!accepted(kColourSet, dataSetFault(data, RecordingMemoryType::Bytes)))
        return false;
    if (data.extent[2] != kColourChannels || data.extent[3] < frames) {
        console::err("Ignoring the colour of ", name, ": ", data.extent[2], " channels and ", data.extent[3],
                     " frames for ", frames, " depth frames.");
        colorEnabled = false;
        return true;
    }
    h5->colourMemory = memorySpace({imageHeight, imageWidth, kColourChannels, 1});
    h5->colourChunks.attach(data.set, 1, std::size_t(imageWidth) * imageHeight * kColourChannels);
    return true;
}

void HDF5RecordingReader::fillColour()
{
    for (std::size_t i = 0; i < colorBuffer.size(); i += kColourChannels)
        for (int c = 0; c < kColourChannels; ++c)
            colorBuffer[i + c] = kFillColour[c];
}

void HDF5RecordingReader::loadConfig()
{
    configFile = recordingConfigPath(name);
    if (configFile.empty())
        return;
    console::out("Try to load config: ", configFile);
    DepthCorrection loadedCorrection;
    if (loadDepthCorrection(depthCorrectionPath(configFile), loadedCorrection))
        setDepthCorrection(loadedCorrection);
    Mat4 loaded;
    if (!loadModelMatrix(configFile, loaded))
        return;
    setModelMatrix(loaded);
    print("MODEL MATRIX LOADED", loaded);
}

double HDF5RecordingReader::timestampAt(std::uint32_t frame) const
{
    if (!hasTimestamps)
        return static_cast<double>(static_cast<float>(frame) * kFramePeriod);
    return frame < frames ? timestamps[frame] : 0.0;
}

double HDF5RecordingReader::currentTimestamp() const
{
    return timestamp.load(std::memory_order_relaxed);
}

Mat4 HDF5RecordingReader::modelMatrix() const
{
    std::lock_guard<std::mutex> lock(matrixMutex);
    return matrix;
}

void HDF5RecordingReader::setModelMatrix(const Mat4& m)
{
    std::lock_guard<std::mutex> lock(matrixMutex);
    matrix = m;
}

void HDF5RecordingReader::loadedDepthMm(std::vector<std::uint16_t>& depthMm) const
{
    constexpr float kMaxMm = 65535.0f;
    if (depthIsMm16) {
        depthMm = depthMm16;
        return;
    }
    depthMm.resize(depth.size());
    for (std::size_t k = 0; k < depth.size(); ++k)
        depthMm[k] = isDepthMeasurement(depth[k]) && depth[k] <= kMaxMm
            ? static_cast<std::uint16_t>(std::lround(depth[k]))
            : std::uint16_t(0);
}

std::vector<float> HDF5RecordingReader::cameraParameterRow() const
{
    return rawCalibrationSize > 0 ? pinholeParameters(h5->calibration) : cameraParameters;
}

void HDF5RecordingReader::stop(const std::string& message)
{
    console::err(message);
    stopped = true;
}

bool HDF5RecordingReader::loadFrame(std::uint32_t frame)
{
    if (frame >= frames || stopped)
        return false;
    if (frameLoaded && frame == loadedFrame.load(std::memory_order_relaxed))
        return true;
    if (!readFrameData(frame)) {
        stop("Unable to read frame " + std::to_string(frame) + " of " + name + "; its playback stops.");
        return false;
    }
    framesRead.fetch_add(1, std::memory_order_relaxed);
    timestamp.store(timestampAt(frame), std::memory_order_relaxed);
    loadedFrame.store(frame, std::memory_order_release);
    frameLoaded = true;
    if (rawCalibrationSize > 0) {
        if (!computeCalibratedPoints())
            return false;
        removeDepthError();
        publishPoints();
        return true;
    }
    computePinholePoints();
    removeDepthError();
    publishPoints();
    console::writeRepeating(console::Stream::Out, formatMatrix("Matrix", modelMatrix()));
    return true;
}

bool HDF5RecordingReader::readFrameData(std::uint32_t frame)
{
    const hsize_t depthStart[3] = {0, 0, frame};
    const hsize_t depthCount[3] = {imageHeight, imageWidth, 1};
    depthIsMm16 = rawCalibrationSize > 0 && h5->depthChunks.readAsUint16(frame, depthMm16.data());
    if (!depthIsMm16 && !h5->depthChunks.readAsFloats(frame, depth.data())
        && !readHyperslab(h5->depth, h5->depthMemory, H5T_NATIVE_FLOAT, depthStart, depthCount, depth.data()))
        return false;
    if (parameterCount > 0) {
        const hsize_t start[2] = {frame, 0};
        const hsize_t count[2] = {1, parameterCount};
        if (!readHyperslab(h5->parameters, h5->parameterMemory, H5T_NATIVE_FLOAT, start, count,
                           cameraParameters.data()))
            return false;
    }
    if (colorEnabled && !readColour(frame))
        fillColour();
    return true;
}

// A frame whose colour cannot be read keeps its depth and shows the fill colour; the first such
// frame is reported.
bool HDF5RecordingReader::readColour(std::uint32_t frame)
{
    const hsize_t start[4] = {0, 0, 0, frame};
    const hsize_t count[4] = {imageHeight, imageWidth, kColourChannels, 1};
    if (h5->colourChunks.readBytes(frame, colorBuffer.data())
        || readHyperslab(h5->colour, h5->colourMemory, H5T_NATIVE_UINT8, start, count, colorBuffer.data()))
        return true;
    if (!colourFailureReported)
        console::err("Unable to read the colour of frame ", frame, " of ", name,
                     "; frames whose colour cannot be read show the fill colour.");
    colourFailureReported = true;
    return false;
}

float* HDF5RecordingReader::pointBuffer()
{
    if (!pointStorage)
        pointStorage.reset(new float[std::size_t(imageWidth) * imageHeight * 4]());
    return pointStorage.get();
}

void HDF5RecordingReader::removeDepthError()
{
    corrections.removeFrom(pointBuffer(), std::size_t(imageWidth) * imageHeight);
}

// The render thread sees the buffer only once it holds a complete first frame.
void HDF5RecordingReader::publishPoints()
{
    if (!publishedPoints.load(std::memory_order_relaxed))
        publishedPoints.store(pointStorage.get(), std::memory_order_release);
}

// From the calibration parsed at opening.
bool HDF5RecordingReader::buildXyTable()
{
    xyTable.resize(std::size_t(imageWidth) * imageHeight * 2);
    if (!fillRayTable(h5->calibration, kRecordingPoints.tableY, xyTable.data())) {
        stop("Calibration contained invalid transformation parameters!");
        return false;
    }
    xyTableReady = true;
    return true;
}

bool HDF5RecordingReader::computeCalibratedPoints()
{
    if (!xyTableReady && !buildXyTable())
        return false;
    if (depthIsMm16)
        depthToPoints(depthMm16.data(), xyTable.data(), depthMm16.size(), pointBuffer(), kRecordingPoints);
    else
        depthToPoints(depth.data(), xyTable.data(), depth.size(), pointBuffer(), kRecordingPoints);
    return true;
}

// Pinhole model with the frame's parameters (column/row of the principal point, focal lengths,
// pixel centres at +0.5); y grows with the image row. A depth that is no measurement: NaN.
void HDF5RecordingReader::computePinholePoints()
{
    constexpr float kMmPerMetre = 1000.0f;
    float* out = pointBuffer();
    const double p0 = cameraParameters[0];
    const double p1 = cameraParameters[1];
    const double invFx = 1.0 / static_cast<double>(cameraParameters[2]);
    const double invFy = 1.0 / static_cast<double>(cameraParameters[3]);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::size_t pixels = std::size_t(imageWidth) * imageHeight;
    for (std::size_t k = 0; k < pixels; ++k) {
        const std::size_t r = k / imageWidth;
        const std::size_t c = k % imageWidth;
        float* p = out + 4 * k;
        if (!isDepthMeasurement(depth[k])) {
            p[0] = p[1] = p[2] = nan;
            continue;
        }
        const float z = depth[k] / kMmPerMetre;
        p[0] = static_cast<float>(-((static_cast<double>(c) + 0.5 - p0) * invFx * z));
        p[1] = static_cast<float>((static_cast<double>(r) + 0.5 - p1) * invFy * z);
        p[2] = z;
    }
}

// A gap of more than 0.1 s is closed by a jump that assumes 30 frames per second; then the
// reader steps (up to five frames per call) toward t and settles on the closer of the last two
// frames, leaving a frame that lies 0 .. 0.0166 s behind t loaded.
bool HDF5RecordingReader::seekToTime(double t)
{
    constexpr double kJumpThreshold = 0.1;
    constexpr double kJumpFrameRate = 30.0;
    constexpr double kSettled = 0.0166;
    constexpr int kMaxSteps = 5;
    if (stopped)
        return false;

    double d = t - currentTimestamp();
    if (std::abs(d) > kJumpThreshold) {
        double target = std::trunc(static_cast<double>(loadedFrame.load(std::memory_order_relaxed)) + d * kJumpFrameRate);
        target = std::max(0.0, std::min(target, static_cast<double>(frames) - 1.0));
        loadFrame(static_cast<std::uint32_t>(target));
    }
    d = t - currentTimestamp();
    const bool forward = d > 0.0;
    double previous = d;
    double current = d;
    std::int64_t b = loadedFrame.load(std::memory_order_relaxed);
    bool stepped = false;
    for (int step = 0; step < kMaxSteps && (current > kSettled) == forward; ++step) {
        b += forward ? 1 : -1;
        if (b < 0 || b >= static_cast<std::int64_t>(frames))
            return false;
        previous = current;
        current = t - timestampAt(static_cast<std::uint32_t>(b));
        stepped = true;
    }
    if (!stepped)
        return true;
    if (std::abs(current) > std::abs(previous))
        b += forward ? -1 : 1;
    loadFrame(static_cast<std::uint32_t>(b));
    return true;
}

} // namespace tavorin
