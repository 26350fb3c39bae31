#include "acquisition/model/DepthToPoints.h"
#include "acquisition/recording/HDF5CameraProcessor.h"
#include "acquisition/recording/HDF5RecordingReader.h"

#include "app/SetDepthImageSourceAction.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include <hdf5.h>

#include "FileText.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <numeric>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

using tavorin::CalibrationFrame, tavorin::DepthCameraData, tavorin::depthToPoints, tavorin::HDF5CameraProcessor,
    tavorin::HDF5RecordingReader, tavorin::kRecordingPoints, tavorin::Mat4, tavorin::runTimed, tavorin::SceneState,
    tavorin::SetDepthImageSourceAction, tavorin::translate;

namespace {

// Writes one data set with the given stored type; chunked and deflated (after the byte shuffle
// when `shuffle`) when `chunk` is given.
void writeDataSet(hid_t file, const char* name, hid_t type, std::vector<hsize_t> dims, const void* data,
                  std::vector<hsize_t> chunk = {}, bool shuffle = false)
{
    const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
    const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
    if (!chunk.empty()) {
        H5Pset_chunk(properties, static_cast<int>(chunk.size()), chunk.data());
        if (shuffle)
            H5Pset_shuffle(properties);
        H5Pset_deflate(properties, 1);
    }
    const hid_t set = H5Dcreate2(file, name, type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
    if (data)
        H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data);
    H5Dclose(set);
    H5Pclose(properties);
    H5Sclose(space);
}

void replaceDataSet(hid_t file, const char* name, hid_t type, std::vector<hsize_t> dims, const void* data,
                    hid_t properties = H5P_DEFAULT)
{
    H5Ldelete(file, name, H5P_DEFAULT);
    const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
    const hid_t set = H5Dcreate2(file, name, type, space, H5P_DEFAULT, properties, H5P_DEFAULT);
    if (data)
        H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data);
    H5Dclose(set);
    H5Sclose(space);
}

// A small recording: depth(r, c, frame) in millimetres, pinhole parameters, and the optional
// data sets. `edit` may add or replace data sets before the file is closed.
struct Recording {
    hsize_t width = 8;
    hsize_t height = 6;
    hsize_t frames = 10;
    std::function<float(hsize_t, hsize_t, hsize_t)> depth = [](hsize_t, hsize_t, hsize_t f) {
        return 1000.0f + static_cast<float>(f);
    };
    std::vector<float> pinhole = {4.0f, 3.0f, 5.0f, 5.0f};
    std::string rawCalibration;
    std::vector<double> timestamps;
    bool colour = true;
    hsize_t colourWidth = 0; // 0: the depth width
    std::function<void(hid_t)> edit;

    std::string write(const std::string& name) const
    {
        const std::string path = testFilePath(name);
        const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        std::vector<float> z(height * width * frames);
        for (hsize_t r = 0; r < height; ++r)
            for (hsize_t c = 0; c < width; ++c)
                for (hsize_t f = 0; f < frames; ++f)
                    z[(r * width + c) * frames + f] = depth(r, c, f);
        writeDataSet(file, "/depth_measure_z_0", H5T_NATIVE_FLOAT, {height, width, frames}, z.data(),
                     {height, width, 1});
        std::vector<float> parameters;
        for (hsize_t f = 0; f < frames; ++f)
            parameters.insert(parameters.end(), pinhole.begin(), pinhole.end());
        writeDataSet(file, "/camera_parameters_0", H5T_NATIVE_FLOAT, {frames, pinhole.size()}, parameters.data());
        if (!rawCalibration.empty())
            writeDataSet(file, "/raw_azure_calibration_0", H5T_NATIVE_UINT8, {1, rawCalibration.size()},
                         rawCalibration.data());
        if (!timestamps.empty())
            writeDataSet(file, "/timestampsBK_0", H5T_NATIVE_DOUBLE, {timestamps.size()}, timestamps.data());
        if (colour) {
            const hsize_t cw = colourWidth ? colourWidth : width;
            std::vector<std::uint8_t> bgra(height * cw * 4 * frames);
            for (std::size_t i = 0; i < bgra.size(); ++i)
                bgra[i] = static_cast<std::uint8_t>(i % 4 == 3 ? 255 : (i / 4) % 200);
            writeDataSet(file, "/color_measure_0", H5T_NATIVE_UINT8, {height, cw, 4, frames}, bgra.data(),
                         {height, cw, 4, 1});
        }
        if (edit)
            edit(file);
        H5Fclose(file);
        return path;
    }
};

std::vector<double> evenTimestamps(double start, hsize_t frames)
{
    std::vector<double> t;
    for (hsize_t i = 0; i < frames; ++i)
        t.push_back(start + static_cast<double>(i) / 30.0);
    return t;
}

// What `action` writes on standard error; its standard output is dropped.
std::string errorsOf(const std::function<void()>& action)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    action();
    testing::internal::GetCapturedStdout();
    return testing::internal::GetCapturedStderr();
}

// Opens quietly; the reader's console lines are checked where they matter.
bool openQuietly(HDF5RecordingReader& reader, const std::string& path, std::string* errors = nullptr)
{
    bool opened = false;
    const std::string err = errorsOf([&] { opened = reader.open(path, true); });
    if (errors)
        *errors = err;
    return opened;
}

const float* pointAt(const HDF5RecordingReader& reader, std::uint32_t c, std::uint32_t r)
{
    return reader.points() + 4 * (std::size_t(r) * reader.width() + c);
}

} // namespace

TEST(AcquisitionRecording, HDF5LibraryIsTheThreadSafeBuild)
{
    hbool_t threadSafe = 0;
    ASSERT_GE(H5is_library_threadsafe(&threadSafe), 0);
    EXPECT_TRUE(threadSafe) << "the playback threads need the serial thread-safe HDF5";
}

TEST(AcquisitionRecording, CalibratedPointsFollowTheDeviceRays)
{
    Recording rec;
    rec.width = 640;
    rec.height = 576;
    rec.frames = 2;
    rec.rawCalibration = readFileText(TAVORIN_SOURCE_DIR "/tests/fixtures/k4a_test_device_calibration.json");
    rec.depth = [](hsize_t r, hsize_t c, hsize_t) { return (r == 10 && c == 10) ? 0.0f : 2000.0f; };
    const std::string path = rec.write("calibrated.h5");

    HDF5RecordingReader reader;
    ASSERT_TRUE(openQuietly(reader, path));
    EXPECT_EQ(nullptr, reader.points()) << "no points before the first frame";
    ASSERT_TRUE(reader.loadFrame(0));
    // The SDK's ray of pixel (320, 288) at depth 1 is (-0.00345388893, -0.0900689736).
    const float* p = pointAt(reader, 320, 288);
    EXPECT_NEAR(0.00345388893 * 2.0, p[0], 2e-5);
    EXPECT_NEAR(0.0900689736 * 2.0, p[1], 2e-5);
    EXPECT_FLOAT_EQ(2.0f, p[2]);
    EXPECT_FLOAT_EQ(1.0f, p[3]);
    const float* corner = pointAt(reader, 0, 0); // ray (-0.946060777, -0.97966212)
    EXPECT_NEAR(0.946060777 * 2.0, corner[0], 4e-5);
    EXPECT_NEAR(0.97966212 * 2.0, corner[1], 4e-5);
    const float* hole = pointAt(reader, 10, 10);
    EXPECT_EQ(0.0f, hole[0]);
    EXPECT_EQ(0.0f, hole[1]);
    EXPECT_EQ(0.0f, hole[2]);
}

// Seven pixels (one step of four and a remainder of three) over a buffer that holds 7 in every
// float: valid pixels get (-tx d, ty d, d, 1) with d in metres, the others x, y, z = 0 and keep
// their fourth float.
TEST(AcquisitionRecording, CalibratedConversionKeepsTheFourthFloatOfInvalidPixels)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    constexpr int kPixels = 7;
    const float depthMm[kPixels] = {1500.0f, 0.0f, 2000.0f, 1234.5f, 800.0f, 3000.0f, 0.0f};
    const float table[2 * kPixels] = {0.2f, -0.4f, 0.1f,  0.1f,  nan, 0.3f, -0.6f,
                                      0.25f, 0.5f, nan, 1.2f, -0.9f, nan, nan};
    float points[4 * kPixels];
    std::fill(points, points + 4 * kPixels, 7.0f);
    depthToPoints(depthMm, table, kPixels, points, kRecordingPoints);
    const bool valid[kPixels] = {true, false, false, true, false, true, false};
    for (int k = 0; k < kPixels; ++k) {
        const float* p = points + 4 * k;
        if (!valid[k]) {
            EXPECT_EQ(0.0f, p[0]) << k;
            EXPECT_EQ(0.0f, p[1]) << k;
            EXPECT_EQ(0.0f, p[2]) << k;
            EXPECT_EQ(7.0f, p[3]) << k;
            continue;
        }
        const float metres = depthMm[k] / 1000.0f;
        EXPECT_FLOAT_EQ(-table[2 * k] * metres, p[0]) << k;
        EXPECT_FLOAT_EQ(table[2 * k + 1] * metres, p[1]) << k;
        EXPECT_FLOAT_EQ(metres, p[2]) << k;
        EXPECT_EQ(1.0f, p[3]) << k;
    }
}

// How a writer may store the 16-bit depth and the colour of a recording.
enum class FrameStorage { ShuffleDeflatePerFrame, DeflatePerFrame, DeflateTwoFramesPerChunk, Contiguous };

std::uint16_t sixteenBitDepth(hsize_t r, hsize_t c, hsize_t f)
{
    return static_cast<std::uint16_t>((r * 7919 + c * 104729 + f * 13) % 65536);
}

std::uint8_t colourByte(hsize_t r, hsize_t c, hsize_t ch, hsize_t f)
{
    return static_cast<std::uint8_t>((r * 31 + c * 17 + ch * 5 + f * 3) % 256);
}

// Replaces the depth (unsigned 16-bit, 0 .. 65535 mm) and colour data sets of a Recording.
void rewriteFrames(hid_t file, const Recording& rec, FrameStorage storage)
{
    const hsize_t h = rec.height, w = rec.width, n = rec.frames;
    std::vector<std::uint16_t> depth(h * w * n);
    std::vector<std::uint8_t> colour(h * w * 4 * n);
    for (hsize_t r = 0; r < h; ++r)
        for (hsize_t c = 0; c < w; ++c)
            for (hsize_t f = 0; f < n; ++f) {
                depth[(r * w + c) * n + f] = sixteenBitDepth(r, c, f);
                for (hsize_t ch = 0; ch < 4; ++ch)
                    colour[((r * w + c) * 4 + ch) * n + f] = colourByte(r, c, ch, f);
            }
    const hsize_t framesPerChunk = storage == FrameStorage::DeflateTwoFramesPerChunk ? 2 : 1;
    const bool chunked = storage != FrameStorage::Contiguous;
    const bool shuffle = storage == FrameStorage::ShuffleDeflatePerFrame;
    H5Ldelete(file, "/depth_measure_z_0", H5P_DEFAULT);
    writeDataSet(file, "/depth_measure_z_0", H5T_NATIVE_UINT16, {h, w, n}, depth.data(),
                 chunked ? std::vector<hsize_t>{h, w, framesPerChunk} : std::vector<hsize_t>{}, shuffle);
    H5Ldelete(file, "/color_measure_0", H5P_DEFAULT);
    writeDataSet(file, "/color_measure_0", H5T_NATIVE_UINT8, {h, w, 4, n}, colour.data(),
                 chunked ? std::vector<hsize_t>{h, w, 4, framesPerChunk} : std::vector<hsize_t>{}, shuffle);
}

// Every frame's depth (through the pinhole points' z) and colour, whichever way the writer chunked
// and filtered them.
TEST(AcquisitionRecording, SixteenBitFramesReadAlikeFromEveryStorage)
{
    for (FrameStorage storage : {FrameStorage::ShuffleDeflatePerFrame, FrameStorage::DeflatePerFrame,
                                 FrameStorage::DeflateTwoFramesPerChunk, FrameStorage::Contiguous}) {
        Recording rec;
        rec.width = 33;
        rec.height = 5;
        rec.frames = 3;
        rec.edit = [&](hid_t file) { rewriteFrames(file, rec, storage); };
        const std::string path = rec.write("storage.h5");
        HDF5RecordingReader reader;
        ASSERT_TRUE(openQuietly(reader, path));
        for (std::uint32_t f = 0; f < rec.frames; ++f) {
            testing::internal::CaptureStdout();
            ASSERT_TRUE(reader.loadFrame(f));
            testing::internal::GetCapturedStdout();
            for (std::uint32_t r = 0; r < rec.height; ++r)
                for (std::uint32_t c = 0; c < rec.width; ++c) {
                    const float d = sixteenBitDepth(r, c, f);
                    const float z = pointAt(reader, c, r)[2];
                    if (d / 1000.0f <= 0.001f)
                        EXPECT_TRUE(std::isnan(z)) << static_cast<int>(storage) << " " << f << " " << r << " " << c;
                    else
                        ASSERT_EQ(d / 1000.0f, z) << static_cast<int>(storage) << " " << f << " " << r << " " << c;
                    for (std::uint32_t ch = 0; ch < 4; ++ch)
                        ASSERT_EQ(colourByte(r, c, ch, f), reader.colors()[(r * rec.width + c) * 4 + ch])
                            << static_cast<int>(storage) << " " << f << " " << r << " " << c;
                }
        }
        std::remove(path.c_str());
    }
}

// Three frames, one deflated chunk each, whose chunk of frame 1 in `set` (frames along dimension
// `frameDimension`) holds garbage.
std::string writeDamagedFrameOne(const char* set, int frameDimension, const std::string& name)
{
    Recording rec;
    rec.frames = 3;
    rec.edit = [&](hid_t file) {
        rewriteFrames(file, rec, FrameStorage::ShuffleDeflatePerFrame);
        const hid_t data = H5Dopen2(file, set, H5P_DEFAULT);
        hsize_t offset[4] = {};
        offset[frameDimension] = 1;
        const std::vector<std::uint8_t> garbage(40, 0xAB);
        H5Dwrite_chunk(data, H5P_DEFAULT, 0, offset, garbage.size(), garbage.data());
        H5Dclose(data);
    };
    return rec.write(name);
}

// A chunk whose deflate stream is damaged: the frame is refused and playback stops, the other
// frames before it were read.
TEST(AcquisitionRecording, DamagedCompressedChunkStopsPlayback)
{
    const std::string path = writeDamagedFrameOne("/depth_measure_z_0", 2, "damaged.h5");
    HDF5RecordingReader reader;
    ASSERT_TRUE(openQuietly(reader, path));
    const std::string errors = errorsOf([&] {
        EXPECT_TRUE(reader.loadFrame(0));
        EXPECT_FALSE(reader.loadFrame(1));
        EXPECT_FALSE(reader.loadFrame(2)) << "the reader has stopped";
    });
    EXPECT_NE(std::string::npos, errors.find("Unable to read frame 1 of " + path + "; its playback stops."));
    std::remove(path.c_str());
}

// A damaged colour chunk costs only that frame's colour: its points come, the fill colour shows,
// one message names the colour, and the next frame has its colour again.
TEST(AcquisitionRecording, DamagedColourChunkKeepsTheDepth)
{
    const std::string path = writeDamagedFrameOne("/color_measure_0", 3, "damagedcolour.h5");
    HDF5RecordingReader reader;
    ASSERT_TRUE(openQuietly(reader, path));
    std::uint8_t filled[4] = {};
    float z = 0.0f;
    const std::string errors = errorsOf([&] {
        EXPECT_TRUE(reader.loadFrame(0));
        EXPECT_TRUE(reader.loadFrame(1));
        std::copy_n(reader.colors(), 4, filled);
        z = pointAt(reader, 3, 2)[2];
        EXPECT_TRUE(reader.loadFrame(2));
        EXPECT_TRUE(reader.loadFrame(1));
    });
    EXPECT_EQ(sixteenBitDepth(2, 3, 1) / 1000.0f, z);
    EXPECT_EQ(255, filled[0]);
    EXPECT_EQ(255, filled[1]);
    EXPECT_EQ(0, filled[2]);
    EXPECT_EQ(255, filled[3]);
    EXPECT_EQ("Unable to read the colour of frame 1 of " + path
                  + "; frames whose colour cannot be read show the fill colour.\n",
              errors);
    reader.loadFrame(2);
    EXPECT_EQ(colourByte(0, 0, 0, 2), reader.colors()[0]);
    std::remove(path.c_str());
}

// The zlib stream of a chunk of 8 zero bytes, as the library writes it.
std::vector<std::uint8_t> smallDeflatedChunk(hid_t file)
{
    const std::vector<std::uint16_t> zeros(4, 0);
    writeDataSet(file, "/small", H5T_NATIVE_UINT16, {2, 2, 1}, zeros.data(), {2, 2, 1});
    const hid_t set = H5Dopen2(file, "/small", H5P_DEFAULT);
    const hsize_t origin[3] = {0, 0, 0};
    hsize_t bytes = 0;
    H5Dget_chunk_storage_size(set, origin, &bytes);
    std::vector<std::uint8_t> chunk(bytes);
    std::uint32_t filters = 0;
    H5Dread_chunk(set, H5P_DEFAULT, origin, &filters, chunk.data());
    H5Dclose(set);
    H5Ldelete(file, "/small", H5P_DEFAULT);
    return chunk;
}

// A stored chunk that decodes to fewer bytes than a chunk holds is never handed to the library's
// read (which would copy a whole chunk out of it): the frame is unreadable, the others read.
TEST(AcquisitionRecording, ShortChunksAreNotRead)
{
    enum class Filters { Shuffle, Deflate };
    for (Filters filters : {Filters::Shuffle, Filters::Deflate}) {
        Recording rec;
        rec.frames = 3;
        rec.edit = [&](hid_t file) {
            const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
            const hsize_t chunk[3] = {rec.height, rec.width, 1};
            H5Pset_chunk(properties, 3, chunk);
            if (filters == Filters::Shuffle)
                H5Pset_shuffle(properties);
            if (filters == Filters::Deflate)
                H5Pset_deflate(properties, 1);
            const std::vector<std::uint16_t> depth(rec.height * rec.width * rec.frames, 1500);
            replaceDataSet(file, "/depth_measure_z_0", H5T_NATIVE_UINT16, {rec.height, rec.width, rec.frames},
                           depth.data(), properties);
            H5Pclose(properties);
            const std::vector<std::uint8_t> shortChunk =
                filters == Filters::Deflate ? smallDeflatedChunk(file) : std::vector<std::uint8_t>(40, 0xAB);
            const hid_t set = H5Dopen2(file, "/depth_measure_z_0", H5P_DEFAULT);
            const hsize_t frameOne[3] = {0, 0, 1};
            H5Dwrite_chunk(set, H5P_DEFAULT, 0, frameOne, shortChunk.size(), shortChunk.data());
            H5Dclose(set);
        };
        const std::string path = rec.write("shortchunk.h5");
        HDF5RecordingReader reader;
        ASSERT_TRUE(openQuietly(reader, path)) << static_cast<int>(filters);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool first = reader.loadFrame(0);
        const bool second = reader.loadFrame(1);
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(first) << static_cast<int>(filters);
        EXPECT_FALSE(second) << static_cast<int>(filters);
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, errors.find("Unable to read frame 1 of " + path))
            << static_cast<int>(filters) << errors;
    }
}

TEST(AcquisitionRecording, PinholePointsAndNaNWithoutDepth)
{
    Recording rec;
    rec.depth = [](hsize_t r, hsize_t c, hsize_t) { return (r == 1 && c == 2) ? 0.0f : 2000.0f; };
    const std::string path = rec.write("pinhole.h5");
    HDF5RecordingReader reader;
    ASSERT_TRUE(openQuietly(reader, path));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(reader.loadFrame(0));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(0u, out.find("Matrix\n")) << out;
    // principal point (4, 3), focal length 5 px, pixel centres at +0.5: pixel (0, 0) at 2 m.
    const float* p = pointAt(reader, 0, 0);
    EXPECT_FLOAT_EQ(-((0.5f - 4.0f) / 5.0f * 2.0f), p[0]);
    EXPECT_FLOAT_EQ((0.5f - 3.0f) / 5.0f * 2.0f, p[1]);
    EXPECT_FLOAT_EQ(2.0f, p[2]);
    const float* missing = pointAt(reader, 2, 1);
    EXPECT_TRUE(std::isnan(missing[0]) && std::isnan(missing[1]) && std::isnan(missing[2]));
}

// The depth correction stored beside a recording's configuration file moves every point along its
// ray to the true range from the first frame on; a new correction applies from the next frame, and
// the reader says which one its points carry.
TEST(AcquisitionRecording, TheDepthCorrectionMovesEveryPointAlongItsRay)
{
    const std::string folder = testFilePath("corrected");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder + "/OP1");
    std::filesystem::create_directories(folder + "/config/cameras/hdf5/a");
    std::ofstream(folder + "/config/cameras/hdf5/a/kinect_000000000042.depth.json")
        << "{\"offsetMm\": 5.0, \"scale\": 0.001}";
    Recording rec;
    rec.depth = [](hsize_t, hsize_t, hsize_t) { return 2000.0f; };
    const std::string written = rec.write("corrected.h5");
    std::filesystem::rename(written, folder + "/OP1/kinect_000000000042.h5");
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    HDF5RecordingReader reader;
    const bool opened = openQuietly(reader, "OP1/kinect_000000000042.h5");
    std::filesystem::current_path(before);
    ASSERT_TRUE(opened);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(reader.loadFrame(0));
    const float x = -((0.5f - 4.0f) / 5.0f * 2.0f);
    const float y = (0.5f - 3.0f) / 5.0f * 2.0f;
    const double range = std::sqrt(double(x) * x + double(y) * y + 4.0);
    const double factor = (range - 0.005) / (1.001 * range);
    const float* p = pointAt(reader, 0, 0);
    EXPECT_NEAR(x * factor, p[0], 1e-6);
    EXPECT_NEAR(y * factor, p[1], 1e-6);
    EXPECT_NEAR(2.0 * factor, p[2], 1e-6);
    EXPECT_EQ(5.0, reader.removedDepthCorrection().offsetMm);

    reader.setDepthCorrection({});
    EXPECT_EQ(5.0, reader.removedDepthCorrection().offsetMm) << "the points still carry the old one";
    ASSERT_TRUE(reader.loadFrame(1));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(reader.removedDepthCorrection().isIdentity());
    EXPECT_FLOAT_EQ(2.0f, pointAt(reader, 0, 0)[2]);
    std::filesystem::remove_all(folder);
}

TEST(AcquisitionRecording, SeekJumpsSettlesAndHoldsTheLastFrame)
{
    Recording rec;
    rec.frames = 100;
    rec.timestamps = evenTimestamps(0.0, rec.frames);
    HDF5RecordingReader reader;
    ASSERT_TRUE(openQuietly(reader, rec.write("seek.h5")));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(reader.loadFrame(0));
    EXPECT_TRUE(reader.seekToTime(2.0));
    EXPECT_EQ(60u, reader.currentFrame()) << "a 2 s gap is one jump of 60 frames";
    EXPECT_TRUE(reader.seekToTime(2.0));
    EXPECT_EQ(60u, reader.currentFrame());
    // Small steps forward: frame k is held while t lies 0 .. 0.0166 s past it.
    reader.seekToTime(2.0 + 0.5 / 30.0 - 0.001);
    EXPECT_EQ(60u, reader.currentFrame());
    reader.seekToTime(2.0 + 1.0 / 30.0 + 0.004);
    EXPECT_EQ(61u, reader.currentFrame());
    reader.seekToTime(2.0 + 3.0 / 30.0 + 0.030);
    EXPECT_EQ(64u, reader.currentFrame()) << "the closer of the last two frames";
    // Backwards within the jump threshold.
    reader.seekToTime(2.0 + 1.0 / 30.0 + 0.001);
    EXPECT_EQ(61u, reader.currentFrame());
    // Past the end: the last frame, and it stays.
    reader.seekToTime(60.0);
    const std::uint64_t reads = reader.frameReads();
    for (int i = 0; i < 50; ++i)
        reader.seekToTime(60.0 + i);
    EXPECT_EQ(99u, reader.currentFrame());
    EXPECT_EQ(reads, reader.frameReads()) << "the held last frame is not read again";
    EXPECT_DOUBLE_EQ(99.0 / 30.0, reader.currentTimestamp());
    // Before the start: frame 0.
    for (int i = 0; i < 3; ++i)
        reader.seekToTime(-5.0);
    EXPECT_EQ(0u, reader.currentFrame());
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(reader.loadFrame(100));
}

TEST(AcquisitionRecording, WithoutTimestampsFramesAreThirtyPerSecond)
{
    Recording rec;
    rec.frames = 40;
    HDF5RecordingReader reader;
    ASSERT_TRUE(openQuietly(reader, rec.write("notimes.h5")));
    EXPECT_DOUBLE_EQ(static_cast<double>(7.0f * (1.0f / 30.0f)), reader.timestampAt(7));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(reader.loadFrame(0));
    for (int k = 1; k < 40; k += 3) {
        reader.seekToTime(k / 30.0 + 0.005);
        EXPECT_EQ(static_cast<std::uint32_t>(k), reader.currentFrame());
        ASSERT_NE(nullptr, reader.points());
        EXPECT_FLOAT_EQ(1.0f + k / 1000.0f, pointAt(reader, 4, 3)[2]) << "frame " << k << " is read";
    }
    testing::internal::GetCapturedStdout();
}

TEST(AcquisitionRecording, RefusedColourDeliversTheFillColour)
{
    Recording rec;
    rec.colourWidth = 5; // not the depth width
    HDF5RecordingReader reader;
    std::string errors;
    ASSERT_TRUE(openQuietly(reader, rec.write("badcolour.h5"), &errors));
    EXPECT_NE(std::string::npos, errors.find("identical resolution like the depth image")) << errors;
    EXPECT_FALSE(reader.colourEnabled());
    testing::internal::CaptureStdout();
    ASSERT_TRUE(reader.loadFrame(3));
    testing::internal::GetCapturedStdout();
    const std::uint8_t* colour = reader.colors();
    for (std::size_t i = 0; i < std::size_t(reader.width()) * reader.height(); ++i) {
        ASSERT_EQ(255, colour[4 * i]);
        ASSERT_EQ(255, colour[4 * i + 1]);
        ASSERT_EQ(0, colour[4 * i + 2]);
        ASSERT_EQ(255, colour[4 * i + 3]);
    }
}

TEST(AcquisitionRecording, ProcessorPublishesRecordsAndMatricesByName)
{
    Recording rec;
    rec.frames = 1; // loaded once and never again, so reading its points here races with nothing
    rec.timestamps = evenTimestamps(50.0, rec.frames);
    const std::string a = rec.write("procA.h5");
    const std::string b = rec.write("procB.h5");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HDF5CameraProcessor source({a, testFilePath("missing.h5"), b, a});
    SceneState state;
    for (int i = 0; i < 200 && state.cameras.size() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        runTimed(source, state);
    }
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(3u, state.cameras.size()) << "the missing file is skipped, the others play";
    EXPECT_EQ(a, state.cameras[0]->sourceName);
    EXPECT_EQ(b, state.cameras[1]->sourceName);
    EXPECT_TRUE(state.cameras[0]->hasPointCloud);
    EXPECT_TRUE(state.cameras[0]->hasColor);
    EXPECT_EQ(8, state.cameras[0]->width);
    EXPECT_EQ(6, state.cameras[0]->height);
    EXPECT_GT(state.cameras[0]->points[2], 0.9f);

    const Mat4 moved = translate(Mat4(), 1.0f, 2.0f, 3.0f);
    const std::shared_ptr<DepthCameraData> published = state.cameras[0];
    source.setModelMatrix(a, moved);
    source.setModelMatrix("no such camera", translate(Mat4(), 9.0f, 9.0f, 9.0f));
    EXPECT_EQ(Mat4(), published->modelMatrix) << "records already published keep their matrix";
    runTimed(source, state);
    EXPECT_EQ(moved, state.cameras[0]->modelMatrix);
    EXPECT_EQ(Mat4(), state.cameras[1]->modelMatrix);
    EXPECT_EQ(Mat4(), state.cameras[2]->modelMatrix) << "only the first reader with the name changes";
}

TEST(AcquisitionRecording, TwoRecordingsPlayInStep)
{
    Recording rec;
    rec.frames = 90;
    rec.timestamps = evenTimestamps(100.0, rec.frames);
    const std::string a = rec.write("stepA.h5");
    rec.timestamps = evenTimestamps(100.012, rec.frames);
    const std::string b = rec.write("stepB.h5");
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    HDF5CameraProcessor source({a, b});
    std::this_thread::sleep_until(start + std::chrono::seconds(1));
    const auto& readers = source.recordingReaders();
    const double ta = readers[0]->currentTimestamp();
    const double tb = readers[1]->currentTimestamp();
    testing::internal::GetCapturedStdout();
    // t is 101.0 s give or take the scheduling of this test; both readers follow the same t.
    EXPECT_NEAR(101.0, ta, 0.1);
    EXPECT_NEAR(ta, tb, 0.5 / 30.0 + 0.02);
}

// Held for calibration, two recordings a little apart give every frame in order, one per call,
// however long each cycle takes; past the last frame there is nothing more.
TEST(AcquisitionRecording, HeldPlaybackGivesEveryFrameInOrder)
{
    constexpr auto kSlowCycle = std::chrono::milliseconds(45); // longer than a frame period
    Recording rec;
    rec.frames = 12;
    rec.timestamps = evenTimestamps(100.0, rec.frames);
    const std::string a = rec.write("heldA.h5");
    rec.timestamps = evenTimestamps(100.012, rec.frames);
    const std::string b = rec.write("heldB.h5");
    testing::internal::CaptureStdout();
    HDF5CameraProcessor source({a, b});
    source.holdForCalibration();
    const auto& readers = source.recordingReaders();
    std::vector<std::uint32_t> framesA, framesB;
    while (source.nextCalibrationFrame() == CalibrationFrame::Next && framesA.size() <= rec.frames) {
        const std::uint32_t heldA = readers[0]->currentFrame();
        std::this_thread::sleep_for(kSlowCycle);
        EXPECT_EQ(heldA, readers[0]->currentFrame()) << "the held frame stays while it is calibrated";
        framesA.push_back(heldA);
        framesB.push_back(readers[1]->currentFrame());
    }
    EXPECT_EQ(CalibrationFrame::None, source.nextCalibrationFrame());
    testing::internal::GetCapturedStdout();
    std::vector<std::uint32_t> everyFrame(rec.frames);
    std::iota(everyFrame.begin(), everyFrame.end(), 0u);
    EXPECT_EQ(everyFrame, framesA);
    EXPECT_EQ(everyFrame, framesB);
}

// Released, playback follows its clock again from the frame it held, not from where the clock
// would have been.
TEST(AcquisitionRecording, ReleasedPlaybackGoesOnFromTheHeldFrame)
{
    constexpr std::uint32_t kHeldFrame = 3;
    Recording rec;
    rec.frames = 90;
    rec.timestamps = evenTimestamps(100.0, rec.frames);
    const std::string a = rec.write("released.h5");
    testing::internal::CaptureStdout();
    HDF5CameraProcessor source({a});
    for (std::uint32_t k = 0; k <= kHeldFrame; ++k)
        ASSERT_EQ(CalibrationFrame::Next, source.nextCalibrationFrame());
    std::this_thread::sleep_for(std::chrono::milliseconds(600)); // the clock alone: frame 18
    const auto released = std::chrono::steady_clock::now();
    source.resumeClock();
    std::this_thread::sleep_until(released + std::chrono::milliseconds(200));
    const std::uint32_t frame = source.recordingReaders()[0]->currentFrame();
    testing::internal::GetCapturedStdout();
    EXPECT_GE(frame, kHeldFrame + 3) << "about six frames later";
    EXPECT_LE(frame, kHeldFrame + 10);
}

// The window's transport: paused playback stays on its frame and steps one frame at a time; play
// at the end starts over; looping starts over by itself; the end is stated, in the status and once
// on the console.
TEST(AcquisitionRecording, TheTransportPausesStepsLoopsAndStatesTheEnd)
{
    using tavorin::PlaybackCommand;
    Recording rec;
    rec.frames = 9; // 0.3 s
    rec.timestamps = evenTimestamps(100.0, rec.frames);
    const std::string path = rec.write("transport.h5");
    testing::internal::CaptureStdout();
    HDF5CameraProcessor source({path});
    SceneState state;
    const auto status = [&] { return source.playbackStatus(); };
    const auto eventually = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 300 && !done(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            source.process(state);
        }
        return done();
    };
    source.controlPlayback(PlaybackCommand::Pause);
    ASSERT_TRUE(status().available);
    EXPECT_TRUE(status().paused);
    const std::uint32_t paused = status().frame;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(paused, status().frame) << "a paused source stays on its frame";
    source.controlPlayback(PlaybackCommand::Step);
    EXPECT_TRUE(eventually([&] { return status().frame == std::min(paused + 1, 9u); })) << status().frame;
    EXPECT_EQ(9u, status().frames);

    source.controlPlayback(PlaybackCommand::Play);
    EXPECT_TRUE(eventually([&] { return status().ended; })) << "a clip of 0.3 s ends";
    EXPECT_EQ(9u, status().frame);
    source.controlPlayback(PlaybackCommand::Play);
    EXPECT_TRUE(eventually([&] { return !status().ended && status().frame < 9u; })) << "play at the end starts over";

    source.controlPlayback(PlaybackCommand::LoopOn);
    EXPECT_TRUE(eventually([&] { return status().frame == 9u; }));
    EXPECT_TRUE(eventually([&] { return status().frame < 5u; })) << "looping starts over by itself";
    EXPECT_FALSE(status().ended);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("Playback reached the end of the recordings: frame 9 of 9, 0.3 s")) << out;
}

// Held by registration at the end, the transport still acts: Play, Step and Loop each take
// registration back to the first frame.
TEST(AcquisitionRecording, HeldPlaybackAtTheEndAnswersPlayStepAndLoop)
{
    using tavorin::PlaybackCommand;
    Recording rec;
    rec.frames = 6;
    rec.timestamps = evenTimestamps(100.0, rec.frames);
    const std::string path = rec.write("held_end.h5");
    testing::internal::CaptureStdout();
    HDF5CameraProcessor source({path});
    const auto& reader = *source.recordingReaders()[0];
    const auto runToEnd = [&] {
        while (source.nextCalibrationFrame() == CalibrationFrame::Next) {
        }
        return reader.currentFrame();
    };
    const std::pair<PlaybackCommand, const char*> commands[] = {
        {PlaybackCommand::Play, "Play"}, {PlaybackCommand::Step, "Step"}, {PlaybackCommand::LoopOn, "Loop"}};
    for (const auto& [command, name] : commands) {
        ASSERT_EQ(rec.frames - 1, runToEnd()) << name;
        EXPECT_TRUE(source.playbackStatus().ended) << name;
        source.controlPlayback(command);
        EXPECT_EQ(CalibrationFrame::Next, source.nextCalibrationFrame()) << name;
        EXPECT_EQ(0u, reader.currentFrame()) << name;
        EXPECT_FALSE(source.playbackStatus().ended) << name;
        source.controlPlayback(PlaybackCommand::Play);
    }
    testing::internal::GetCapturedStdout();
}

TEST(AcquisitionRecording, RecordingActionCreatesThePlaybackSource)
{
    Recording rec;
    const std::string path = rec.write("action.h5");
    SceneState state;
    state.cameras.push_back(std::make_shared<DepthCameraData>());
    state.enqueue(std::make_shared<SetDepthImageSourceAction>(SetDepthImageSourceAction::kRecordings,
                                                              std::vector<std::string>{path}));
    testing::internal::CaptureStdout();
    state.step();
    ASSERT_NE(nullptr, std::dynamic_pointer_cast<HDF5CameraProcessor>(state.depthSource));
    for (int i = 0; i < 200 && state.cameras.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        state.step();
    }
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(1u, state.cameras.size());
    EXPECT_EQ(path, state.cameras[0]->sourceName);
}

// A copy of the file with `edit` applied to its bytes.
std::string patchedCopy(const std::string& path, const std::function<void(std::string&)>& edit)
{
    std::string bytes = readFileText(path);
    edit(bytes);
    const std::string patched = path + ".patched";
    std::ofstream(patched, std::ios::binary) << bytes;
    return patched;
}

// The precision byte of the file's one unsigned 16-bit type (the depth) set to `bits`: the
// datatype message is class 0 version 1, little-endian unsigned, 2 bytes, offset 0, precision 16.
std::function<void(std::string&)> depthPrecision(std::uint8_t bits)
{
    return [bits](std::string& bytes) {
        const std::string u16le("\x10\0\0\0\x02\0\0\0\0\0\x10\0", 12);
        const std::size_t at = bytes.find(u16le);
        if (at != std::string::npos && bytes.find(u16le, at + 1) == std::string::npos)
            bytes[at + 10] = static_cast<char>(bits);
    };
}

// Fields of the root group's name heap, the file's first "HEAP": data size at 8, free list head
// at 16, data address at 24 (8-byte lengths and offsets).
void setHeapField(std::string& bytes, std::size_t field, std::uint64_t value)
{
    std::memcpy(&bytes[bytes.find("HEAP") + field], &value, sizeof value);
}

// The free list's head names a block whose successor is itself.
void loopRootHeap(std::string& bytes)
{
    constexpr std::uint64_t kBlock = 16;
    std::uint64_t dataAddress = 0;
    std::memcpy(&dataAddress, &bytes[bytes.find("HEAP") + 24], sizeof dataAddress);
    setHeapField(bytes, 16, kBlock);
    std::memcpy(&bytes[dataAddress + kBlock], &kBlock, sizeof kBlock);
}

// A 640 x 576 recording of one frame with the test device's blob, edited by `change`.
Recording calibratedRecording(const std::function<void(std::string&)>& change = {})
{
    Recording rec;
    rec.width = 640;
    rec.height = 576;
    rec.frames = 1;
    rec.colour = false;
    rec.rawCalibration = readFileText(TAVORIN_SOURCE_DIR "/tests/fixtures/k4a_test_device_calibration.json");
    if (change)
        change(rec.rawCalibration);
    return rec;
}

// Every kind of unusable recording is refused at opening, with its own message ("PATH" stands
// for the file's path); rank-2 timestamps alone still play, at 30 frames per second.
TEST(AcquisitionRecording, MalformedRecordingsAreRefusedCleanly)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto without = [](const char* name) {
        return [name](hid_t file) { H5Ldelete(file, name, H5P_DEFAULT); };
    };
    struct Case {
        std::string name;
        std::function<std::string()> make;
        std::string message;
        bool opens = false;
    };
    std::vector<Case> cases;
    const auto recordingCase = [&](const std::string& name, std::function<void(Recording&)> change,
                                   const std::string& message) {
        cases.push_back({name, [name, change] {
                             Recording rec;
                             change(rec);
                             return rec.write(name + ".h5");
                         },
                         message});
    };
    const auto fileCase = [&](const std::string& name, std::string content, const std::string& message) {
        cases.push_back({name, [name, content] {
                             const std::string path = testFilePath(name);
                             std::ofstream(path, std::ios::binary) << content;
                             return path;
                         },
                         message});
    };
    const auto pinholeCase = [&](const std::string& name, std::vector<float> row, const std::string& message) {
        recordingCase(name, [row](Recording& r) {
            r.edit = [row, &r](hid_t file) {
                std::vector<float> rows;
                for (hsize_t f = 0; f < r.frames; ++f) {
                    const std::vector<float>& values = f == 7 ? row : r.pinhole;
                    rows.insert(rows.end(), values.begin(), values.end());
                }
                replaceDataSet(file, "/camera_parameters_0", H5T_NATIVE_FLOAT, {r.frames, 4}, rows.data());
            };
        }, message);
    };
    const auto timestampCase = [&](const std::string& name, std::size_t at, double t, const std::string& message) {
        recordingCase(name, [at, t](Recording& r) {
            r.timestamps = evenTimestamps(0.0, r.frames);
            r.timestamps[at] = t;
        }, message);
    };
    const auto blobCase = [&](const std::string& name, std::function<void(std::string&)> change,
                              const std::string& message) {
        cases.push_back({name, [name, change] { return calibratedRecording(change).write(name + ".h5"); }, message});
    };

    fileCase("text", "this is not a recording\n", "Unable to open PATH!");
    fileCase("empty", "", "Unable to open PATH!");
    cases.push_back({"truncated", [] {
                         const std::string whole = readFileText(Recording().write("whole.h5"));
                         const std::string path = testFilePath("truncated.h5");
                         std::ofstream(path, std::ios::binary) << whole.substr(0, whole.size() / 2);
                         return path;
                     },
                     "Unable to open PATH!"});
    cases.push_back({"missing", [] { return testFilePath("no_such_file.h5"); },
                     "Unable to open PATH: No such file or directory"});
    cases.push_back({"directory", [] { return testing::TempDir(); }, "Unable to open PATH: it is a directory"});
    cases.push_back({"symlink loop", [] {
                         const std::string path = testFilePath("loop.h5");
                         std::remove(path.c_str());
                         EXPECT_EQ(0, ::symlink(path.c_str(), path.c_str()));
                         return path;
                     },
                     "Unable to open PATH: Too many levels of symbolic links"});
    // The library would follow this list for ever, allocating as it goes.
    cases.push_back({"looped root heap", [] { return patchedCopy(Recording().write("heap.h5"), loopRootHeap); },
                     "Refusing PATH: the free list of its root group's name heap loops or leaves the heap."});
    // The library would allocate the claimed size before reading it.
    cases.push_back({"oversized root heap", [] {
                         return patchedCopy(Recording().write("bigheap.h5"),
                                            [](std::string& bytes) { setHeapField(bytes, 8, std::uint64_t(1) << 40); });
                     },
                     "Refusing PATH: its root group's name heap of 1099511627776 bytes does not fit in the file."});
    recordingCase("nodepth", [&](Recording& r) { r.edit = without("/depth_measure_z_0"); },
                  "Depth-DataSet not available!");
    recordingCase("depth2d", [&](Recording& r) {
        r.edit = [](hid_t file) {
            const float z[6] = {1, 2, 3, 4, 5, 6};
            replaceDataSet(file, "/depth_measure_z_0", H5T_NATIVE_FLOAT, {2, 3}, z);
        };
    }, "Expected 3 dimensions for depth data set (Height x Width x Frame)! Got 2.");
    recordingCase("depthstrings", [&](Recording& r) {
        r.edit = [](hid_t file) {
            const hid_t type = H5Tcopy(H5T_C_S1);
            H5Tset_size(type, 4);
            replaceDataSet(file, "/depth_measure_z_0", type, {2, 2, 1}, "abcdefghijklmnop");
            H5Tclose(type);
        };
    }, "Refusing PATH: /depth_measure_z_0 stores strings; it must hold standard integers of 8 to 64 bits or 32- or "
       "64-bit IEEE floats.");
    // The library's own conversion of this type overruns its stack buffer.
    cases.push_back({"depth precision 142", [] {
                         Recording rec;
                         rec.edit = [&rec](hid_t file) { rewriteFrames(file, rec, FrameStorage::Contiguous); };
                         return patchedCopy(rec.write("precision.h5"), depthPrecision(142));
                     },
                     "Refusing PATH: /depth_measure_z_0 stores 142-bit unsigned integers (2 bytes, little-endian, "
                     "bit offset 0); it must hold standard integers of 8 to 64 bits or 32- or 64-bit IEEE floats."});
    recordingCase("half floats", [&](Recording& r) {
        r.edit = [&r](hid_t file) {
            const hid_t half = H5Tcopy(H5T_IEEE_F32LE);
            H5Tset_fields(half, 15, 10, 5, 0, 10);
            H5Tset_precision(half, 16);
            H5Tset_size(half, 2);
            H5Tset_ebias(half, 15);
            replaceDataSet(file, "/camera_parameters_0", half, {r.frames, 4}, nullptr);
            H5Tclose(half);
        };
    }, "/camera_parameters_0 stores 16-bit floats (2 bytes, little-endian, bit offset 0, sign bit 15, 5-bit "
       "exponent at bit 10, 10-bit mantissa at bit 0)");
    recordingCase("signed colour", [&](Recording& r) {
        r.edit = [&r](hid_t file) {
            const std::vector<std::int8_t> bgra(r.height * r.width * 4 * r.frames, 1);
            replaceDataSet(file, "/color_measure_0", H5T_STD_I8LE, {r.height, r.width, 4, r.frames}, bgra.data());
        };
    }, "/color_measure_0 stores 8-bit signed integers (1 bytes, little-endian, bit offset 0); it must hold "
       "unsigned 8-bit integers.");
    recordingCase("external depth", [&](Recording& r) {
        r.edit = [&r](hid_t file) {
            const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
            H5Pset_external(properties, "/etc/hostname", 0, H5F_UNLIMITED);
            replaceDataSet(file, "/depth_measure_z_0", H5T_NATIVE_UINT8, {r.height, r.width, r.frames}, nullptr,
                           properties);
            H5Pclose(properties);
        };
    }, "/depth_measure_z_0 keeps its values in external files; only values inside the recording are read.");
    // Only values inside the recording are read: links out of it are not followed, not even opened.
    recordingCase("external link", [&](Recording& r) {
        r.edit = [](hid_t file) {
            H5Ldelete(file, "/depth_measure_z_0", H5P_DEFAULT);
            H5Lcreate_external("other.h5", "/depth", file, "/depth_measure_z_0", H5P_DEFAULT, H5P_DEFAULT);
        };
    }, "Refusing PATH: /depth_measure_z_0 is an external link to other.h5:/depth; only values inside the "
       "recording are read.");
    recordingCase("external link to a FIFO", [&](Recording& r) {
        r.edit = [](hid_t file) {
            const std::string fifo = testFilePath("fifo");
            std::remove(fifo.c_str());
            EXPECT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
            H5Lcreate_external(fifo.c_str(), "/t", file, "/timestampsBK_0", H5P_DEFAULT, H5P_DEFAULT);
        };
    }, "/timestampsBK_0 is an external link to ");
    recordingCase("dangling soft link", [&](Recording& r) {
        r.edit = [](hid_t file) {
            H5Ldelete(file, "/depth_measure_z_0", H5P_DEFAULT);
            H5Lcreate_soft("/nowhere", file, "/depth_measure_z_0", H5P_DEFAULT, H5P_DEFAULT);
        };
    }, "Refusing PATH: /depth_measure_z_0 is a soft link to /nowhere, which leads to no object inside the "
       "recording; only values inside the recording are read.");
    recordingCase("soft link through an external one", [&](Recording& r) {
        r.edit = [](hid_t file) {
            H5Ldelete(file, "/camera_parameters_0", H5P_DEFAULT);
            H5Lcreate_external("other.h5", "/", file, "/outside", H5P_DEFAULT, H5P_DEFAULT);
            H5Lcreate_soft("/outside/p", file, "/camera_parameters_0", H5P_DEFAULT, H5P_DEFAULT);
        };
    }, "/camera_parameters_0 is a soft link to /outside/p, which leads to no object inside the recording");
    recordingCase("nbit depth", [&](Recording& r) {
        r.edit = [&r](hid_t file) {
            const hid_t properties = H5Pcreate(H5P_DATASET_CREATE);
            const hsize_t chunk[3] = {r.height, r.width, 1};
            H5Pset_chunk(properties, 3, chunk);
            H5Pset_nbit(properties);
            replaceDataSet(file, "/depth_measure_z_0", H5T_NATIVE_UINT16, {r.height, r.width, r.frames}, nullptr,
                           properties);
            H5Pclose(properties);
        };
    }, "/depth_measure_z_0 is filtered with HDF5 filter 5; only deflate, shuffle and fletcher32 are read.");
    recordingCase("absurdsize", [&](Recording& r) {
        r.edit = [](hid_t file) {
            H5Ldelete(file, "/depth_measure_z_0", H5P_DEFAULT);
            writeDataSet(file, "/depth_measure_z_0", H5T_NATIVE_FLOAT, {100000, 100000, 3}, nullptr, {16, 16, 1});
        };
    }, "Refusing PATH: depth data set of 100000 x 100000 x 3 is empty or too large.");
    recordingCase("one pixel", [&](Recording& r) { r.width = r.height = 1; },
                  "Refusing PATH: depth images of 1 x 1 pixels are too small; each side needs at least 4 pixels.");
    recordingCase("fewparamrows", [&](Recording& r) {
        r.edit = [](hid_t file) {
            const float p[8] = {4, 3, 5, 5, 4, 3, 5, 5};
            replaceDataSet(file, "/camera_parameters_0", H5T_NATIVE_FLOAT, {2, 4}, p);
        };
    }, "Refusing PATH: 2 camera parameter rows of 4 for 10 depth frames.");
    recordingCase("params1d", [&](Recording& r) {
        r.edit = [](hid_t file) {
            const float p[4] = {4, 3, 5, 5};
            replaceDataSet(file, "/camera_parameters_0", H5T_NATIVE_FLOAT, {4}, p);
        };
    }, "Expected 2 dimensions in camera parameter data space! Got 1.");
    recordingCase("threeparams", [&](Recording& r) { r.pinhole = {4, 3, 5}; },
                  "Refusing PATH: 3 camera parameters and no raw calibration; the pinhole model needs 4.");
    recordingCase("noparams", [&](Recording& r) { r.edit = without("/camera_parameters_0"); },
                  "Refusing PATH: 0 camera parameters and no raw calibration");
    pinholeCase("zero focal length", {4, 3, 0, 5},
                "Refusing PATH: frame 7 has focal lengths 0 x 5 px and principal point (4, 3) px; focal lengths "
                "must lie in 1 .. 1e+06 px and the principal point within ±1e+06 px.");
    pinholeCase("absurd focal length", {4, 3, 5, 1e30f}, "frame 7 has focal lengths 5 x 1e+30 px");
    pinholeCase("no principal point", {nan, 3, 5, 5}, "frame 7 has focal lengths 5 x 5 px and principal point (nan");
    recordingCase("fewtimestamps", [&](Recording& r) { r.timestamps = evenTimestamps(0.0, 4); },
                  "Refusing PATH: 4 timestamps for 10 depth frames.");
    timestampCase("nan timestamp", 3, std::numeric_limits<double>::quiet_NaN(),
                  "Refusing PATH: timestamp 3 is nan, not a finite number of seconds.");
    timestampCase("decreasing timestamps", 5, 0.01,
                  "Refusing PATH: timestamp 5 (0.01 s) is earlier than timestamp 4 (0.133333 s); timestamps must not "
                  "decrease.");
    timestampCase("absurd timestamp", 9, 1e12, "Refusing PATH: timestamp 9 (1e+12 s) lies outside ±1e+10 s.");
    timestampCase("two days", 9, 2 * 86400.0,
                  "Refusing PATH: the timestamps span 172800 s, more than one day (86400 s).");
    cases.push_back({"rank-2 timestamps", [] {
                         Recording rec;
                         rec.edit = [](hid_t file) {
                             const double t[20] = {};
                             writeDataSet(file, "/timestampsBK_0", H5T_NATIVE_DOUBLE, {10, 2}, t);
                         };
                         return rec.write("timestamps2d.h5");
                     },
                     "Expected 1 dimension in timestamp data space! Got 2.", true});
    recordingCase("signed namespace", [&](Recording& r) {
        r.edit = [](hid_t file) {
            const std::int8_t name[3] = {'p', 'c', 0};
            writeDataSet(file, "/ros_namespace_0", H5T_STD_I8LE, {1, 3}, name);
        };
    }, "Refusing PATH: /ros_namespace_0 stores 8-bit signed integers");
    cases.push_back({"frame id with a space", [] {
                         Recording rec;
                         rec.edit = [](hid_t file) {
                             writeDataSet(file, "/ros_frame_id_0", H5T_NATIVE_UINT8, {1, 4}, "a b");
                         };
                         return rec.write("frame_id_space.h5");
                     },
                     "Ignoring the ROS frame id of PATH: it is no name", true});
    blobCase("blob not calibration", [](std::string& blob) { blob = "{\"CalibrationInformation\": 42}"; },
             "Failed to load calibration from raw calibration blob! PATH: the blob has a \"CalibrationInformation\" "
             "that is not an object.");
    blobCase("blob without the depth camera's radius", [](std::string& blob) {
        blob.replace(blob.find("\"MetricRadius\""), 14, "\"MetricRadiux\"");
    }, "the blob has no \"MetricRadius\" for the depth camera.");
    blobCase("blob with too few parameters", [](std::string& blob) {
        const std::size_t list = blob.find("\"ModelParameters\"");
        blob.replace(list, blob.find(']', list) - list + 1, "\"ModelParameters\": [0.5, 0.5]");
    }, "the blob has a \"ModelParameters\" for the depth camera that is not 14 numbers.");
    blobCase("blob focal length zero", [](std::string& blob) { blob.replace(blob.find("0.49281969666481018"), 19, "0"); },
             "Refusing PATH: the raw calibration's depth camera has focal lengths 0 x 504.757 px");
    cases.push_back({"blob of another resolution", [] {
                         Recording rec = calibratedRecording();
                         rec.width = 64;
                         rec.height = 48;
                         return rec.write("blobsize.h5");
                     },
                     "Refusing PATH: its raw calibration describes a depth camera of 640 x 576 pixels, its depth "
                     "images have 64 x 48."});

    for (const Case& c : cases) {
        const std::string path = c.make();
        HDF5RecordingReader reader;
        std::string errors;
        EXPECT_EQ(c.opens, openQuietly(reader, path, &errors)) << c.name;
        std::string message = c.message;
        const std::size_t at = message.find("PATH");
        if (at != std::string::npos)
            message.replace(at, 4, path);
        EXPECT_NE(std::string::npos, errors.find(message)) << c.name << ": " << errors;
        if (c.opens) {
            EXPECT_DOUBLE_EQ(static_cast<double>(3.0f * (1.0f / 30.0f)), reader.timestampAt(3)) << c.name;
        }
    }
}

// Depth, parameters and timestamps in every standard integer and IEEE float type, in either byte
// order, as independent recorders write them (numpy's default is a 64-bit float): read as the
// same numbers. Depths that are no measurement (negative, below 1 mm) give no point.
TEST(AcquisitionRecording, EveryStandardNumberTypeReadsExactly)
{
    const hid_t types[] = {H5T_STD_U8LE,  H5T_STD_U8BE,  H5T_STD_I8LE,  H5T_STD_I8BE,  H5T_STD_U16LE,
                           H5T_STD_U16BE, H5T_STD_I16LE, H5T_STD_I16BE, H5T_STD_U32LE, H5T_STD_U32BE,
                           H5T_STD_I32LE, H5T_STD_I32BE, H5T_STD_U64LE, H5T_STD_U64BE, H5T_STD_I64LE,
                           H5T_STD_I64BE, H5T_IEEE_F32LE, H5T_IEEE_F32BE, H5T_IEEE_F64LE, H5T_IEEE_F64BE};
    const auto store = [](hid_t file, const char* name, hid_t type, std::vector<hsize_t> dims,
                          const std::vector<double>& values) {
        H5Ldelete(file, name, H5P_DEFAULT);
        const hid_t space = H5Screate_simple(static_cast<int>(dims.size()), dims.data(), nullptr);
        const hid_t set = H5Dcreate2(file, name, type, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        H5Dwrite(set, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data());
        H5Dclose(set);
        H5Sclose(space);
    };
    // 8-bit types hold depths of up to 127 mm; the signed ones also -5 mm, which is no measurement.
    const auto depthOf = [](hsize_t r, hsize_t c, hsize_t f, bool isSigned) {
        return r == 0 && c == 0 ? (isSigned ? -5.0 : 0.0) : static_cast<double>(100 + 2 * c + r + f);
    };
    for (const hid_t type : types) {
        const bool isSigned = H5Tget_class(type) == H5T_FLOAT || H5Tget_sign(type) == H5T_SGN_2;
        Recording rec;
        rec.colour = false;
        rec.edit = [&](hid_t file) {
            std::vector<double> depth, parameters, times;
            for (hsize_t r = 0; r < rec.height; ++r)
                for (hsize_t c = 0; c < rec.width; ++c)
                    for (hsize_t f = 0; f < rec.frames; ++f)
                        depth.push_back(depthOf(r, c, f, isSigned));
            for (hsize_t f = 0; f < rec.frames; ++f) {
                parameters.insert(parameters.end(), {4.0, 3.0, 5.0, 5.0});
                times.push_back(static_cast<double>(2 * f));
            }
            store(file, "/depth_measure_z_0", type, {rec.height, rec.width, rec.frames}, depth);
            store(file, "/camera_parameters_0", type, {rec.frames, 4}, parameters);
            store(file, "/timestampsBK_0", type, {rec.frames}, times);
        };
        const std::string path = rec.write("types.h5");
        HDF5RecordingReader reader;
        std::string errors;
        ASSERT_TRUE(openQuietly(reader, path, &errors)) << H5Tget_size(type) << " bytes: " << errors;
        testing::internal::CaptureStdout();
        ASSERT_TRUE(reader.loadFrame(3));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(6.0, reader.timestampAt(3));
        EXPECT_TRUE(std::isnan(pointAt(reader, 0, 0)[2]));
        const float* p = pointAt(reader, 7, 5);
        const float z = static_cast<float>(depthOf(5, 7, 3, isSigned)) / 1000.0f;
        EXPECT_EQ(z, p[2]) << errors;
        EXPECT_FLOAT_EQ(-(7.5f - 4.0f) / 5.0f * z, p[0]);
        EXPECT_FLOAT_EQ((5.5f - 3.0f) / 5.0f * z, p[1]);
    }
}

TEST(AcquisitionRecording, FailuresDuringPlaybackStopOnlyThatReader)
{
    // Overwrite the middle of the compressed frames: the file opens, its frames cannot be read.
    Recording big;
    big.width = 64;
    big.height = 48;
    big.frames = 30;
    big.depth = [](hsize_t r, hsize_t c, hsize_t f) { return static_cast<float>((r * 131 + c * 71 + f * 17) % 4000); };
    const std::string corrupt = big.write("corrupt.h5");
    std::string bytes = readFileText(corrupt);
    for (std::size_t i = bytes.size() / 3; i < bytes.size() * 2 / 3; ++i)
        bytes[i] = static_cast<char>(i * 7);
    std::ofstream(corrupt, std::ios::binary | std::ios::trunc) << bytes;

    Recording good;
    good.timestamps = evenTimestamps(0.0, good.frames);
    const std::string fine = good.write("fine.h5");

    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HDF5CameraProcessor source({corrupt, fine});
    SceneState state;
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        runTimed(source, state);
    }
    testing::internal::GetCapturedStdout();
    const std::string errors = testing::internal::GetCapturedStderr();
    bool finePlays = false;
    for (const auto& record : state.cameras)
        finePlays = finePlays || record->sourceName == fine;
    EXPECT_TRUE(finePlays) << errors;
}
