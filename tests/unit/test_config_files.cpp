#include "acquisition/config/CameraConfigFiles.h"
#include "acquisition/config/CameraTfFile.h"

#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include "FileText.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <tuple>
#include <vector>

#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using tavorin::DepthCameraData, tavorin::liveCameraConfigPath, tavorin::loadCameraTfFrames, tavorin::loadModelMatrix,
    tavorin::Mat4, tavorin::recordingConfigPath, tavorin::scale, tavorin::SceneState, tavorin::storeCalibrations,
    tavorin::translate, tavorin::writeModelMatrix;

namespace {

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string configPathOf(const std::string& recording)
{
    testing::internal::CaptureStdout();
    const std::string path = recordingConfigPath(recording);
    testing::internal::GetCapturedStdout();
    return path;
}

Mat4 sampleMatrix()
{
    const float values[16] = {0.1f, -0.25f, 1e-7f, 0.0f, 3.14159265f, 1.0f / 3.0f, -0.0f, 0.0f,
                              2.0f / 7.0f, 123.456f, 1e30f, 0.0f, -1.5f, 0.731f, 2.2f, 1.0f};
    return Mat4(values);
}

} // namespace

TEST(ConfigPaths, RecordingSetTable)
{
    EXPECT_EQ("config/cameras/hdf5/a/kinect_000123456789.json", configPathOf("samples/OP1/kinect_000123456789.h5"));
    EXPECT_EQ("config/cameras/hdf5/a/kinect_000123456789.json", configPathOf("/data/OP3/kinect_000123456789.h5"));
    EXPECT_EQ("config/cameras/hdf5/b/kinect_000123456789.json", configPathOf("rec/OP5/kinect_000123456789.h5"));
    EXPECT_EQ("config/cameras/hdf5/c/kinect_000123456789.json", configPathOf("rec/OP9/kinect_000123456789.h5"));
    EXPECT_EQ("config/cameras/hdf5/velto/kinect_000123456789.json",
              configPathOf("rec/session.h5/kinect_000123456789.h5"));
    EXPECT_EQ("config/cameras/hdf5/default/kinect_000123456789.json",
              configPathOf("rec/OP10/kinect_000123456789.h5"));
    EXPECT_EQ("config/cameras/hdf5/default/kinect_000123456789.json", configPathOf("/kinect_000123456789.h5"));
    EXPECT_NE(configPathOf("rec/OP1/kinect_000123456789.h5"), configPathOf("rec/OP4/kinect_000123456789.h5"));
}

TEST(ConfigPaths, LiveSerialsStayInTheCameraFolder)
{
    EXPECT_EQ("config/cameras/azure/azure_kinect_SN-12_ab.json", liveCameraConfigPath("SN-12_ab"));
    EXPECT_EQ("config/cameras/azure/azure_kinect__________etc_passwd.json", liveCameraConfigPath("../../../etc/passwd"));
    EXPECT_EQ("config/cameras/azure/azure_kinect_a_b_c_d__.json", liveCameraConfigPath("a\\b c.d\xc3\xa4"));
}

TEST(ConfigPaths, PrintsSerialAndFolderTagAndSkipsPathsWithoutSlash)
{
    testing::internal::CaptureStdout();
    recordingConfigPath("rec/OP10/kinect_000123456789.h5");
    EXPECT_EQ("Filename Serial: 000123456789 | FilenameOP: P10\n", testing::internal::GetCapturedStdout());

    testing::internal::CaptureStdout();
    EXPECT_EQ("", recordingConfigPath("kinect_000123456789.h5"));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());

    // Names too short for the serial or the tag give what exists, never a read past the end.
    EXPECT_EQ("config/cameras/hdf5/default/kinect_.json", configPathOf("a/b.h5"));
    EXPECT_EQ("config/cameras/hdf5/default/kinect_67.json", configPathOf("ab/kinect_67"));
}

TEST(ConfigFiles, WriterTextIsTheExactFormat)
{
    const float values[16] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f,
                              0.0f, 0.0f, 1.0f, 0.0f, 0.1f, -2.5f, 3.0f, 1.0f};
    const std::string path = testFilePath("exact.json");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writeModelMatrix(path, Mat4(values)));
    EXPECT_EQ("Stored Depth Camera Configuration to " + path + "\n", testing::internal::GetCapturedStdout());
    const std::string expected = "{\n    \"modelMatrix\": [\n"
                                 "        1.0,\n        0.0,\n        0.0,\n        0.0,\n"
                                 "        0.0,\n        1.0,\n        0.0,\n        0.0,\n"
                                 "        0.0,\n        0.0,\n        1.0,\n        0.0,\n"
                                 "        0.10000000149011612,\n        -2.5,\n        3.0,\n        1.0\n"
                                 "    ]\n}";
    EXPECT_EQ(expected, readFileText(path));
    const std::string check = "python3 -c \"import json,sys; m=json.load(open(sys.argv[1]))['modelMatrix'];"
                              " sys.exit(0 if len(m)==16 and m[12]==0.10000000149011612 and m[13]==-2.5 else 1)\" "
                              + path;
    EXPECT_EQ(0, std::system(check.c_str())) << "an independent JSON reader disagrees";
}

TEST(ConfigFiles, RoundTripIsBitIdentical)
{
    const std::string path = testFilePath("roundtrip.json");
    const Mat4 written = sampleMatrix();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writeModelMatrix(path, written));
    testing::internal::GetCapturedStdout();
    Mat4 read;
    ASSERT_TRUE(loadModelMatrix(path, read));
    EXPECT_EQ(0, std::memcmp(written.data(), read.data(), sizeof(float) * 16));
}

TEST(ConfigFiles, UnusableFilesKeepTheMatrix)
{
    const std::string sixteen = "1,0,0,0, 0,1,0,0, 0,0,1,0, 4,5,6,1";
    struct Case {
        const char* name;
        std::string text; // empty: the file is made below
        const char* reason;
    };
    const Case cases[] = {
        {"fifteen", "{\"modelMatrix\": [1,0,0,0, 0,1,0,0, 0,0,1,0, 4,5,6]}", "has 15 elements, not 16"},
        {"seventeen", "{\"modelMatrix\": [" + sixteen + ", 1]}", "has 17 elements, not 16"},
        {"rows", "{\"modelMatrix\": [[1,0,0,0], [0,1,0,0], [0,0,1,0], [4,5,6,1]]}", "has 4 elements, not 16"},
        {"missing", "{\"other\": [" + sixteen + "]}", "it has no \"modelMatrix\""},
        {"member", "{\"modelMatrix\": \"" + sixteen + "\"}", "\"modelMatrix\" is a string, not an array"},
        {"array", "[" + sixteen + "]", "the top level is an array, not an object"},
        {"number", "42", "the top level is a number, not an object"},
        {"null", "null", "the top level is null, not an object"},
        {"string", "\"modelMatrix\"", "the top level is a string, not an object"},
        {"deep", std::string(100000, '[') + std::string(100000, ']'), "the top level is an array"},
        {"notjson", "{\"modelMatrix\": [1, 2,", "parse error"},
        {"strings", "{\"modelMatrix\": [" + sixteen.substr(0, sixteen.size() - 1) + "\"x\"]}", "element 15 of"},
        {"nulls", "{\"modelMatrix\": [null" + sixteen.substr(1) + "]}", "element 0 of \"modelMatrix\" is not a number"},
        {"huge", "{\"modelMatrix\": [1,0,0,0, 0,1e39,0,0, 0,0,1,0, 4,5,6,1]}", "element 5 of \"modelMatrix\" is beyond"},
        {"zeros", "{\"modelMatrix\": [0,0,0,0, 0,0,0,0, 0,0,0,0, 0,0,0,0]}", "the matrix is singular"},
        {"directory", "", "it is a directory"},
        {"loop", "", "Too many levels of symbolic links"},
        {"pipe", "", "it is not a regular file"},
        {"large", "", "it is larger than 1 MiB"},
    };
    std::filesystem::create_directory(testFilePath("directory"));
    std::filesystem::create_symlink(testFilePath("loop"), testFilePath("loop"));
    ::mkfifo(testFilePath("pipe").c_str(), 0600);
    std::ofstream(testFilePath("large")).close();
    std::filesystem::resize_file(testFilePath("large"), 2 << 20);
    for (const Case& c : cases) {
        const std::string path = testFilePath(c.name);
        if (!c.text.empty())
            writeText(path, c.text);
        Mat4 m;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(loadModelMatrix(path, m)) << c.name;
        const std::string errors = testing::internal::GetCapturedStderr();
        std::filesystem::remove(path);
        EXPECT_EQ(Mat4(), m) << c.name;
        EXPECT_TRUE(errors.rfind("Ignoring camera configuration " + path + ": ", 0) == 0
                    && errors.find(c.reason) != std::string::npos && errors.find('\n') == errors.size() - 1)
            << c.name << ": " << errors;
    }
    Mat4 m;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loadModelMatrix(testFilePath("does_not_exist"), m));
    EXPECT_EQ("No camera configuration at " + testFilePath("does_not_exist") + " yet\n",
              testing::internal::GetCapturedStdout());
    EXPECT_EQ(Mat4(), m);

    const std::string extra = testFilePath("extra");
    writeText(extra, "{\"note\": \"x\", \"modelMatrix\": [" + sixteen + "], \"more\": 1}");
    ASSERT_TRUE(loadModelMatrix(extra, m));
    EXPECT_EQ(Mat4(), translate(Mat4(), -4.0f, -5.0f, -6.0f) * m);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writeModelMatrix(extra, m));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string::npos, readFileText(extra).find("note"));
}

// Running out of room, a target that cannot be replaced, a singular matrix (which the reader
// would refuse).
TEST(ConfigFiles, FailedWriteLeavesThePreviousFileAndNoTemporary)
{
    const std::string previous = testFilePath("previous.json");
    const std::string directory = testFilePath("directory.json");
    writeText(previous, "previous");
    std::filesystem::create_directory(directory);
    rlimit unlimited{};
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    rlimit small = unlimited;
    small.rlim_cur = 200; // bytes: room for the message, not for the file
    const auto handler = std::signal(SIGXFSZ, SIG_IGN); // a write past the limit then fails
    const std::tuple<std::string, Mat4, const rlimit*, const char*> cases[] = {
        {previous, sampleMatrix(), &small, "Unable to write camera configuration "},
        {directory, sampleMatrix(), &unlimited, "Unable to write camera configuration "},
        {previous, scale(Mat4(), 1.0f, 0.0f, 1.0f), &unlimited, "Unable to write camera configuration "},
    };
    for (const auto& [path, matrix, limit, message] : cases) {
        testing::internal::CaptureStderr();
        ::setrlimit(RLIMIT_FSIZE, limit);
        EXPECT_FALSE(writeModelMatrix(path, matrix));
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find(message + path)) << message;
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp")) << message;
    }
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ("previous", readFileText(previous));
    EXPECT_TRUE(std::filesystem::is_directory(directory));
    std::filesystem::remove(directory);
}

// A file about to change is first kept beside it, and named; the newest five copies stay. An
// unchanged file is not rewritten.
TEST(ConfigFiles, OverwrittenContentIsKeptAndUnchangedFilesAreNotRewritten)
{
    const std::string folder = testFilePath("backups");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/kinect_000000000001.json";
    const auto copies = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().string() != path)
                names.push_back(entry.path().string());
        return names;
    };
    const auto store = [&](float x) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(writeModelMatrix(path, translate(Mat4(), x, 0.0f, 0.0f)));
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ("Stored Depth Camera Configuration to " + path + "\n", store(1.0f));
    const std::string first = readFileText(path);
    ::utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
    const auto written = std::filesystem::last_write_time(path);
    EXPECT_EQ("Stored Depth Camera Configuration to " + path + " (unchanged, not rewritten)\n", store(1.0f));
    EXPECT_EQ(written, std::filesystem::last_write_time(path));
    EXPECT_TRUE(copies().empty());

    const std::string out = store(2.0f);
    ASSERT_EQ(1u, copies().size());
    const std::string copy = copies().front();
    EXPECT_EQ(first, readFileText(copy));
    EXPECT_EQ(0u, copy.rfind(path + ".", 0)) << copy;
    EXPECT_EQ(".bak", copy.substr(copy.size() - 4));
    EXPECT_EQ("Kept the previous " + path + " as " + copy + "\nStored Depth Camera Configuration to " + path + "\n", out);

    std::vector<float> keptContents;
    for (int x = 3; x <= 9; ++x)
        store(static_cast<float>(x));
    for (const std::string& kept : copies()) {
        Mat4 m;
        testing::internal::CaptureStdout();
        EXPECT_TRUE(loadModelMatrix(kept, m));
        testing::internal::GetCapturedStdout();
        keptContents.push_back(m.m[12]);
    }
    std::sort(keptContents.begin(), keptContents.end());
    EXPECT_EQ((std::vector<float>{4, 5, 6, 7, 8}), keptContents) << "the newest five contents before each store";
    std::filesystem::remove_all(folder);
}

TEST(ConfigFiles, StoreCalibrationsReportsFailuresAndWritesTheRest)
{
    SceneState state;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(storeCalibrations(state));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());

    const auto record = [](const std::string& path, float x) {
        auto r = std::make_shared<DepthCameraData>();
        r->configPath = path;
        r->modelMatrix = translate(Mat4(), x, 0.0f, 0.0f);
        return r;
    };
    const std::string good = testFilePath("good.json");
    const std::string bad = good + "/bad.json"; // under a file: no folder can be made there
    const std::string inNewFolder = testFilePath("made_folder/new.json");
    std::filesystem::remove_all(testFilePath("made_folder"));
    writeText(good, "previous content");
    state.cameras = {record(bad, 1.0f), record("", 2.0f), record(good, 3.0f), record(inNewFolder, 4.0f)};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(storeCalibrations(state));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, out.find("Stored Depth Camera Configuration to " + good + "\n"));
    EXPECT_NE(std::string::npos, err.find(bad));
    Mat4 m;
    ASSERT_TRUE(loadModelMatrix(good, m));
    EXPECT_EQ(3.0f, m.m[12]);
    ASSERT_TRUE(loadModelMatrix(inNewFolder, m)) << "a missing folder is made";
    EXPECT_EQ(4.0f, m.m[12]);
    EXPECT_FALSE(std::ifstream(good + ".tmp").good()) << "no temporary file is left behind";
}

// A frames file that names no usable frame is ignored with one line that says why.
TEST(ConfigFiles, TfFramesThatNameNoFrameAreIgnored)
{
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {
        {"{\"parent\": ", "parse error"},
        {"{\"parent\": \"room\", \"child\": \"a b\"}", "the child is no frame name"},
    };
    const std::string path = testFilePath("bad.tf.json");
    for (const auto& c : cases) {
        writeText(path, c.text);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(loadCameraTfFrames(path)) << c.text;
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(0u, err.rfind("Ignoring tf frames " + path + ": ", 0)) << err;
        EXPECT_NE(std::string::npos, err.find(c.reason)) << err;
    }
}
