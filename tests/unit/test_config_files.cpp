#include "acquisition/CameraConfigFiles.h"

#include "acquisition/DepthCameraData.h"
#include "app/SceneState.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace {

std::string tempPath(const std::string& name)
{
    return testing::TempDir() + "tavorin_config_" + std::to_string(::getpid()) + "_" + name;
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
    const std::string path = tempPath("exact.json");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writeModelMatrix(path, Mat4(values)));
    EXPECT_EQ("Stored Depth Camera Configuration to " + path + "\n", testing::internal::GetCapturedStdout());
    const std::string expected = "{\n    \"modelMatrix\": [\n"
                                 "        1.0,\n        0.0,\n        0.0,\n        0.0,\n"
                                 "        0.0,\n        1.0,\n        0.0,\n        0.0,\n"
                                 "        0.0,\n        0.0,\n        1.0,\n        0.0,\n"
                                 "        0.10000000149011612,\n        -2.5,\n        3.0,\n        1.0\n"
                                 "    ]\n}";
    EXPECT_EQ(expected, readText(path));
    const std::string check = "python3 -c \"import json,sys; m=json.load(open(sys.argv[1]))['modelMatrix'];"
                              " sys.exit(0 if len(m)==16 and m[12]==0.10000000149011612 and m[13]==-2.5 else 1)\" "
                              + path;
    EXPECT_EQ(0, std::system(check.c_str())) << "an independent JSON reader disagrees";
}

TEST(ConfigFiles, RoundTripIsBitIdentical)
{
    const std::string path = tempPath("roundtrip.json");
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
        std::string text;
        bool reported;
    };
    const Case cases[] = {
        {"fifteen", "{\"modelMatrix\": [1,0,0,0, 0,1,0,0, 0,0,1,0, 4,5,6]}", false},
        {"seventeen", "{\"modelMatrix\": [" + sixteen + ", 1]}", false},
        {"missing", "{\"other\": [" + sixteen + "]}", false},
        {"array", "[" + sixteen + "]", false},
        {"notjson", "{\"modelMatrix\": [1, 2,", true},
        {"strings", "{\"modelMatrix\": [" + sixteen.substr(0, sixteen.size() - 1) + "\"x\"]}", true},
        {"nulls", "{\"modelMatrix\": [null" + sixteen.substr(1) + "]}", true},
    };
    for (const Case& c : cases) {
        const std::string path = tempPath(c.name);
        writeText(path, c.text);
        Mat4 m;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(loadModelMatrix(path, m)) << c.name;
        const std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(Mat4(), m) << c.name;
        EXPECT_EQ(c.reported, !errors.empty()) << c.name << ": " << errors;
    }
    Mat4 m;
    EXPECT_FALSE(loadModelMatrix(tempPath("does_not_exist"), m));
    EXPECT_EQ(Mat4(), m);

    const std::string extra = tempPath("extra");
    writeText(extra, "{\"note\": \"x\", \"modelMatrix\": [" + sixteen + "], \"more\": 1}");
    ASSERT_TRUE(loadModelMatrix(extra, m));
    EXPECT_EQ(Mat4(), translate(Mat4(), -4.0f, -5.0f, -6.0f) * m);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writeModelMatrix(extra, m));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::string::npos, readText(extra).find("note"));
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
    const std::string good = tempPath("good.json");
    const std::string bad = tempPath("no_such_dir/bad.json");
    writeText(good, "previous content");
    state.cameras = {record(bad, 1.0f), record("", 2.0f), record(good, 3.0f)};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(storeCalibrations(state));
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ("Stored Depth Camera Configuration to " + good + "\n", out);
    EXPECT_NE(std::string::npos, err.find(bad));
    Mat4 m;
    ASSERT_TRUE(loadModelMatrix(good, m));
    EXPECT_EQ(3.0f, m.m[12]);
    EXPECT_FALSE(std::ifstream(good + ".tmp").good()) << "no temporary file is left behind";
}
