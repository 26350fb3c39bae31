#include "acquisition/recording/HDF5RecordingWriter.h"

#include "acquisition/recording/FrameChunkEncoder.h"
#include "acquisition/recording/RecordingDataSets.h"

#include <hdf5.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <limits>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tavorin {

namespace {

using recording::kDepthSet, recording::kParameterSet, recording::kRawCalibrationSet, recording::kRosFrameIdSet,
    recording::kRosNamespaceSet, recording::kTimestampSet;
constexpr const char* kColorSet = recording::kColourSet;
constexpr int kBgraChannels = 4;

bool fileExists(const std::string& path)
{
    return access(path.c_str(), F_OK) == 0;
}

// Flushes the file's bytes to the disk; false when that fails.
bool syncFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = fsync(fd) == 0;
    return (::close(fd) == 0) && synced;
}

void syncFolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

// The bytes the file may still grow by: the free space of its file system, and the process's file
// size limit when there is one.
std::uint64_t roomToGrow(const std::string& path, std::uint64_t fileSize)
{
    std::uint64_t room = std::numeric_limits<std::uint64_t>::max();
    struct statvfs disk {};
    if (statvfs(path.c_str(), &disk) == 0)
        room = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        room = std::min<std::uint64_t>(room, limit.rlim_cur > fileSize ? limit.rlim_cur - fileSize : 0);
    return room;
}

} // namespace

// One growing data set whose frame index is `frameAxis`; dims holds its current extent.
struct HDF5RecordingWriter::FrameSet {
    hid_t set = -1;
    std::vector<hsize_t> dims;
    std::size_t frameAxis = 0;
    bool filtered = false; // compressed: shuffle (16-bit values) and deflate

    ~FrameSet()
    {
        if (set >= 0)
            H5Dclose(set);
    }
};

HDF5RecordingWriter::HDF5RecordingWriter(int depthLevel, int colorLevel)
    : depthEncoder(std::make_unique<FrameChunkEncoder>(depthLevel)),
      colorEncoder(std::make_unique<FrameChunkEncoder>(colorLevel))
{
}

HDF5RecordingWriter::~HDF5RecordingWriter()
{
    if (file >= 0)
        cutBackAndClose();
}

bool HDF5RecordingWriter::create(const std::string& path, const Layout& layout_)
{
    layout = layout_;
    finalPath = path;
    if (!depthEncoder->valid() || !colorEncoder->valid())
        return fail("no compressor for the chosen deflate levels");
    if (layout.width <= 0 || layout.height <= 0)
        return fail("no image size");
    if (fileExists(finalPath))
        return fail(finalPath + " exists already and is not replaced");
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    // A temporary file left by a recording that was killed is replaced.
    file = H5Fcreate(temporaryPath().c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0)
        return fail(std::string("cannot create ") + temporaryPath() + ": " + std::strerror(errno));
    if (!createSets() || !writeText(kRawCalibrationSet, layout.rawCalibration)
        || !writeText(kRosNamespaceSet, layout.rosNamespace) || !writeText(kRosFrameIdSet, layout.rosFrameId)) {
        discard();
        return false;
    }
    return true;
}

bool HDF5RecordingWriter::createSets()
{
    const auto frameSet = [this](const char* name, hid_t type, std::vector<hsize_t> frameShape,
                                 std::size_t frameAxis, bool filtered, bool shuffle) {
        auto created = std::make_unique<FrameSet>();
        created->dims = frameShape;
        created->dims[frameAxis] = 0;
        created->frameAxis = frameAxis;
        created->filtered = filtered;
        std::vector<hsize_t> maximum = frameShape;
        maximum[frameAxis] = H5S_UNLIMITED;
        const int rank = static_cast<int>(frameShape.size());
        const hid_t space = H5Screate_simple(rank, created->dims.data(), maximum.data());
        const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_chunk(properties, rank, frameShape.data());
        if (shuffle)
            H5Pset_shuffle(properties);
        if (filtered)
            H5Pset_deflate(properties, 1); // the level is the compressor's; the filter only names deflate
        created->set = H5Dcreate2(file, name, type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
        H5Pclose(properties);
        H5Sclose(space);
        return created;
    };
    const hsize_t h = static_cast<hsize_t>(layout.height);
    const hsize_t w = static_cast<hsize_t>(layout.width);
    const hsize_t n = layout.cameraParameters.size();
    depth = frameSet(kDepthSet, H5T_STD_U16LE, {h, w, 1}, 2, true, true);
    if (layout.withColor)
        color = frameSet(kColorSet, H5T_STD_U8LE, {h, w, kBgraChannels, 1}, 3, true, false);
    parameters = frameSet(kParameterSet, H5T_IEEE_F32LE, {1, n}, 0, false, false);
    timestamps = frameSet(kTimestampSet, H5T_IEEE_F64LE, {1}, 0, false, false);
    for (const FrameSet* set : {depth.get(), color.get(), parameters.get(), timestamps.get()})
        if (set && set->set < 0)
            return fail("cannot create the data sets of " + temporaryPath());
    return true;
}

// One row of bytes: the text and its NUL. Nothing for an empty text.
bool HDF5RecordingWriter::writeText(const char* setName, const std::string& text)
{
    if (text.empty())
        return true;
    const hsize_t dims[2] = {1, text.size() + 1};
    const hid_t space = H5Screate_simple(2, dims, nullptr);
    const hid_t set = H5Dcreate2(file, setName, H5T_STD_U8LE, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    const bool written = set >= 0 && H5Dwrite(set, H5T_NATIVE_UINT8, H5S_ALL, H5S_ALL, H5P_DEFAULT, text.c_str()) >= 0;
    if (set >= 0)
        H5Dclose(set);
    H5Sclose(space);
    return written || fail(std::string("cannot write ") + setName + " to " + temporaryPath());
}

bool HDF5RecordingWriter::append(const std::uint16_t* depthMm, const std::uint8_t* bgra, double timestampSeconds)
{
    if (file < 0 || failed)
        return false;
    const std::uint64_t frame = committedFrames;
    if (!roomForFrame())
        return fail("the disk is full (or the file size limit reached) after " + std::to_string(frame) + " frames");
    if (!extendTo(frame + 1))
        return fail("cannot extend " + temporaryPath());
    const bool written = writeFrameChunk(*depth, depthMm, sizeof(std::uint16_t), depthEncoder.get())
        && (!color || writeFrameChunk(*color, bgra, 1, colorEncoder.get()))
        && writeFrameChunk(*parameters, layout.cameraParameters.data(), sizeof(float), nullptr)
        && writeFrameChunk(*timestamps, &timestampSeconds, sizeof(double), nullptr);
    if (!written)
        return fail("cannot write frame " + std::to_string(frame) + " to " + temporaryPath() + ": "
                    + std::strerror(errno));
    committedFrames = frame + 1;
    return true;
}

// A frame is written only while the file can take its largest compressed size and the metadata
// that closing the file writes: a write that fails for want of space leaves a file that the
// library can no longer close.
bool HDF5RecordingWriter::roomForFrame() const
{
    constexpr std::uint64_t kClosingMargin = 1 << 20;
    const std::size_t pixels = static_cast<std::size_t>(layout.width) * layout.height;
    std::uint64_t largestFrame = depthEncoder->bound(pixels * sizeof(std::uint16_t));
    if (color)
        largestFrame += colorEncoder->bound(pixels * kBgraChannels);
    hsize_t fileSize = 0;
    H5Fget_filesize(file, &fileSize);
    return roomToGrow(temporaryPath(), fileSize) >= largestFrame + kClosingMargin;
}

bool HDF5RecordingWriter::extendTo(std::uint64_t frames)
{
    for (FrameSet* set : {depth.get(), color.get(), parameters.get(), timestamps.get()}) {
        if (!set)
            continue;
        set->dims[set->frameAxis] = frames;
        if (H5Dset_extent(set->set, set->dims.data()) < 0)
            return false;
    }
    return true;
}

// The chunk of the newest frame, compressed when the set is: through `compressor`, after the
// byte shuffle for values wider than a byte.
bool HDF5RecordingWriter::writeFrameChunk(FrameSet& set, const void* values, std::size_t elementBytes,
                                          FrameChunkEncoder* encoder)
{
    std::size_t bytes = elementBytes;
    for (std::size_t axis = 0; axis < set.dims.size(); ++axis)
        bytes *= axis == set.frameAxis ? 1 : set.dims[axis];
    std::vector<hsize_t> offset(set.dims.size(), 0);
    offset[set.frameAxis] = set.dims[set.frameAxis] - 1;
    const void* chunk = values;
    std::size_t chunkBytes = bytes;
    if (set.filtered) {
        if (!encoder->encode(values, bytes, elementBytes))
            return false;
        chunk = encoder->data();
        chunkBytes = encoder->size();
    }
    constexpr std::uint32_t kAllFiltersApplied = 0;
    if (H5Dwrite_chunk(set.set, H5P_DEFAULT, kAllFiltersApplied, offset.data(), chunkBytes, chunk) < 0)
        return false;
    compressedBytes += chunkBytes;
    return true;
}

bool HDF5RecordingWriter::fail(const std::string& reason)
{
    failed = true;
    failure = reason;
    return false;
}

// The data sets back to the complete frames, then the file closed; false when the library could
// not close it.
bool HDF5RecordingWriter::cutBackAndClose()
{
    if (failed)
        extendTo(committedFrames);
    depth.reset();
    color.reset();
    parameters.reset();
    timestamps.reset();
    const bool closed = H5Fclose(file) >= 0;
    file = -1;
    return closed;
}

void HDF5RecordingWriter::discard()
{
    if (file >= 0)
        cutBackAndClose();
    std::remove(temporaryPath().c_str());
}

bool HDF5RecordingWriter::finish()
{
    if (file < 0)
        return false;
    if (committedFrames == 0) {
        discard();
        if (failure.empty())
            failure = "no frame was recorded";
        return false;
    }
    const std::string reasonBefore = failure;
    if (!cutBackAndClose() || !syncFile(temporaryPath())) {
        const std::string reason = "cannot complete " + temporaryPath() + ": " + std::strerror(errno);
        failure = reasonBefore.empty() ? reason : reasonBefore + "; " + reason;
        return false;
    }
    if (std::rename(temporaryPath().c_str(), finalPath.c_str()) != 0) {
        failure = "cannot rename " + temporaryPath() + ": " + std::strerror(errno);
        return false;
    }
    syncFolderOf(finalPath);
    return true;
}

} // namespace tavorin
