#include "SampleRecordingFile.h"

#include "acquisition/recording/FrameChunkEncoder.h"
#include "acquisition/recording/RecordingDataSets.h"
#include "base/Console.h"

#include <hdf5.h>

namespace console = tavorin::console;
namespace recording = tavorin::recording;

namespace {

constexpr int kDeflateLevel = 1;

hid_t createFrameDataSet(hid_t file, const char* name, hid_t type, std::vector<hsize_t> dims,
                         std::vector<hsize_t> chunk)
{
    const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
    const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_chunk(properties, static_cast<int>(chunk.size()), chunk.data());
    H5Pset_shuffle(properties);
    // The level is the encoder's: the filter only names deflate for the readers.
    H5Pset_deflate(properties, static_cast<unsigned>(kDeflateLevel));
    const hid_t set = H5Dcreate2(file, name, type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
    H5Pclose(properties);
    H5Sclose(space);
    return set;
}

void writeSlab(hid_t set, hid_t memType, std::vector<hsize_t> start, std::vector<hsize_t> count, const void* data)
{
    const hid_t fileSpace = H5Dget_space(set);
    H5Sselect_hyperslab(fileSpace, H5S_SELECT_SET, start.data(), nullptr, count.data(), nullptr);
    const hid_t memSpace = H5Screate_simple(static_cast<int>(count.size()), count.data(), nullptr);
    H5Dwrite(set, memType, memSpace, fileSpace, H5P_DEFAULT, data);
    H5Sclose(memSpace);
    H5Sclose(fileSpace);
}

// One frame's chunk, shuffled and deflated here as the data set's filters would: HDF5's own zlib
// filter took half of the generator's time.
void writeChunk(hid_t set, tavorin::FrameChunkEncoder& encoder, std::vector<hsize_t> offset, const void* values,
                std::size_t bytes, std::size_t elementBytes)
{
    constexpr std::uint32_t kAllFiltersApplied = 0;
    if (encoder.encode(values, bytes, elementBytes))
        H5Dwrite_chunk(set, H5P_DEFAULT, kAllFiltersApplied, offset.data(), encoder.size(), encoder.data());
}

void writeWhole(hid_t file, const char* name, hid_t type, std::vector<hsize_t> dims, const void* data)
{
    const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
    const hid_t set = H5Dcreate2(file, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data);
    H5Dclose(set);
    H5Sclose(space);
}

} // namespace

SampleRecordingFile::SampleRecordingFile(const std::string& path, int width_, int height_, int frames_,
                                         int parameterCount_, bool withColour)
    : width(width_), height(height_), frames(frames_), parameterCount(parameterCount_),
      encoder(std::make_unique<tavorin::FrameChunkEncoder>(kDeflateLevel))
{
    file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0) {
        console::err("Unable to create ", path);
        return;
    }
    const hsize_t h = static_cast<hsize_t>(height);
    const hsize_t w = static_cast<hsize_t>(width);
    const hsize_t f = static_cast<hsize_t>(frames);
    const hsize_t n = static_cast<hsize_t>(parameterCount);
    depth = createFrameDataSet(file, recording::kDepthSet, H5T_STD_U16LE, {h, w, f}, {h, w, 1});
    if (withColour)
        colour = createFrameDataSet(file, recording::kColourSet, H5T_STD_U8LE, {h, w, 4, f}, {h, w, 4, 1});
    parameters = createFrameDataSet(file, recording::kParameterSet, H5T_IEEE_F32LE, {f, n}, {1, n});
}

SampleRecordingFile::~SampleRecordingFile()
{
    for (std::int64_t set : {depth, colour, parameters})
        if (set >= 0)
            H5Dclose(set);
    if (file >= 0)
        H5Fclose(file);
}

void SampleRecordingFile::writeFrame(int frame, const std::uint16_t* depthMm, const std::uint8_t* bgra,
                                     const float* frameParameters)
{
    const hsize_t i = static_cast<hsize_t>(frame);
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    writeChunk(depth, *encoder, {0, 0, i}, depthMm, pixels * sizeof(std::uint16_t), sizeof(std::uint16_t));
    if (colour >= 0)
        writeChunk(colour, *encoder, {0, 0, 0, i}, bgra, pixels * 4, 1);
    writeSlab(parameters, H5T_NATIVE_FLOAT, {i, 0}, {1, static_cast<hsize_t>(parameterCount)}, frameParameters);
}

void SampleRecordingFile::writeRawCalibration(const std::string& blob, bool withNul)
{
    const hsize_t size = blob.size() + (withNul ? 1 : 0);
    writeWhole(file, recording::kRawCalibrationSet, H5T_NATIVE_UINT8, {1, size}, blob.c_str());
}

void SampleRecordingFile::writeTimestamps(const std::vector<double>& seconds)
{
    writeWhole(file, recording::kTimestampSet, H5T_NATIVE_DOUBLE, {seconds.size()}, seconds.data());
}
