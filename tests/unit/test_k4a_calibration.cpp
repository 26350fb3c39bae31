#include <k4a/k4a.h>

#include "FileText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <iterator>
#include <string>

namespace {


// The blob with its terminating NUL inside the size, as the SDK requires.
k4a_calibration_t calibrationFrom(std::string blob)
{
    k4a_calibration_t calibration{};
    EXPECT_EQ(K4A_RESULT_SUCCEEDED, k4a_calibration_get_from_raw(&blob[0], blob.size() + 1,
                                                                 K4A_DEPTH_MODE_NFOV_UNBINNED,
                                                                 K4A_COLOR_RESOLUTION_720P, &calibration));
    return calibration;
}

bool rayAt(const k4a_calibration_t& calibration, float u, float v, k4a_float3_t& ray)
{
    k4a_float2_t pixel;
    pixel.xy = {u, v};
    int valid = -1;
    EXPECT_EQ(K4A_RESULT_SUCCEEDED, k4a_calibration_2d_to_3d(&calibration, &pixel, 1.0f, K4A_CALIBRATION_TYPE_DEPTH,
                                                           K4A_CALIBRATION_TYPE_DEPTH, &ray, &valid));
    return valid == 1;
}

bool project(const k4a_calibration_t& calibration, float x, float y, float z, k4a_float2_t& pixel)
{
    k4a_float3_t point;
    point.xyz = {x, y, z};
    int valid = -1;
    EXPECT_EQ(K4A_RESULT_SUCCEEDED, k4a_calibration_3d_to_2d(&calibration, &point, K4A_CALIBRATION_TYPE_DEPTH,
                                                           K4A_CALIBRATION_TYPE_DEPTH, &pixel, &valid));
    return valid == 1;
}

// Depth camera of the SDK's own unit-test device, in the raw blob format, completed with the
// colour camera and inertial sensors of a real device's blob.
const std::string kTestDeviceBlob = readFileText(TAVORIN_SOURCE_DIR "/tests/fixtures/k4a_test_device_calibration.json");

} // namespace

TEST(K4aCalibration, TestDeviceIntrinsicsForNfovUnbinned)
{
    const k4a_calibration_t c = calibrationFrom(kTestDeviceBlob);
    const auto& camera = c.depth_camera_calibration;
    EXPECT_EQ(640, camera.resolution_width);
    EXPECT_EQ(576, camera.resolution_height);
    EXPECT_EQ(K4A_CALIBRATION_LENS_DISTORTION_MODEL_BROWN_CONRADY, camera.intrinsics.type);
    EXPECT_NEAR(321.738281, camera.intrinsics.parameters.param.cx, 1e-4);
    EXPECT_NEAR(333.33844, camera.intrinsics.parameters.param.cy, 1e-4);
    EXPECT_NEAR(504.647369, camera.intrinsics.parameters.param.fx, 1e-4);
    EXPECT_NEAR(504.757385, camera.intrinsics.parameters.param.fy, 1e-4);
    EXPECT_FLOAT_EQ(-2.0833556845900603e-5f, camera.intrinsics.parameters.param.p2);
    EXPECT_FLOAT_EQ(-1.2877916742581874e-4f, camera.intrinsics.parameters.param.p1);
    EXPECT_FLOAT_EQ(1.737323045730591f, camera.metric_radius);
    EXPECT_EQ(0.0f, camera.intrinsics.parameters.param.metric_radius) << "the SDK leaves this one unset";
}

TEST(K4aCalibration, UnprojectionMatchesTestDeviceRays)
{
    const k4a_calibration_t c = calibrationFrom(kTestDeviceBlob);
    struct Case {
        float u, v, x, y;
    };
    const Case cases[] = {{0.0f, 0.0f, -0.946060777f, -0.97966212f},
                          {320.0f, 288.0f, -0.00345388893f, -0.0900689736f},
                          {639.0f, 575.0f, 0.819735527f, 0.624421358f},
                          {100.5f, 400.25f, -0.473299801f, 0.143149808f}};
    for (const Case& k : cases) {
        k4a_float3_t ray;
        ASSERT_TRUE(rayAt(c, k.u, k.v, ray)) << k.u << ", " << k.v;
        EXPECT_NEAR(k.x, ray.xyz.x, 1e-5);
        EXPECT_NEAR(k.y, ray.xyz.y, 1e-5);
        EXPECT_FLOAT_EQ(1.0f, ray.xyz.z);
    }
    int invalid = 0;
    for (int v = 0; v < 576; ++v)
        for (int u = 0; u < 640; ++u) {
            k4a_float3_t ray;
            invalid += rayAt(c, static_cast<float>(u), static_cast<float>(v), ray) ? 0 : 1;
        }
    EXPECT_EQ(0, invalid);
}

TEST(K4aCalibration, ZeroDepthIsInvalidOrigin)
{
    const k4a_calibration_t c = calibrationFrom(kTestDeviceBlob);
    k4a_float2_t pixel;
    pixel.xy = {320.0f, 288.0f};
    k4a_float3_t point;
    point.xyz = {7.0f, 7.0f, 7.0f};
    int valid = -1;
    ASSERT_EQ(K4A_RESULT_SUCCEEDED, k4a_calibration_2d_to_3d(&c, &pixel, 0.0f, K4A_CALIBRATION_TYPE_DEPTH,
                                                           K4A_CALIBRATION_TYPE_DEPTH, &point, &valid));
    EXPECT_EQ(0, valid);
    EXPECT_EQ(0.0f, point.xyz.x);
    EXPECT_EQ(0.0f, point.xyz.y);
    EXPECT_EQ(0.0f, point.xyz.z);
}

TEST(K4aCalibration, ProjectionMatchesTestDevicePixels)
{
    const k4a_calibration_t c = calibrationFrom(kTestDeviceBlob);
    k4a_float2_t pixel;
    ASSERT_TRUE(project(c, 0.0f, 0.0f, 1000.0f, pixel));
    EXPECT_NEAR(321.738281, pixel.xy.x, 1e-3);
    EXPECT_NEAR(333.33844, pixel.xy.y, 1e-3);
    ASSERT_TRUE(project(c, 500.0f, 0.0f, 1000.0f, pixel));
    EXPECT_NEAR(555.083374, pixel.xy.x, 1e-3);
    EXPECT_NEAR(333.322205, pixel.xy.y, 1e-3);
    ASSERT_TRUE(project(c, -500.0f, -400.0f, 1000.0f, pixel));
    EXPECT_NEAR(98.2857513, pixel.xy.x, 1e-3);
    EXPECT_NEAR(154.514252, pixel.xy.y, 1e-3);

    pixel.xy = {-1.0f, -1.0f};
    EXPECT_FALSE(project(c, 3000.0f, 0.0f, 1000.0f, pixel));
    EXPECT_EQ(-1.0f, pixel.xy.x) << "an out-of-radius point leaves the output alone";
    EXPECT_FALSE(project(c, 100.0f, 0.0f, -5.0f, pixel));
    EXPECT_EQ(0.0f, pixel.xy.x);
    EXPECT_EQ(0.0f, pixel.xy.y);
}

TEST(K4aCalibration, RoundTripThroughRealDeviceBlob)
{
    const std::string blob = readFileText(TAVORIN_SOURCE_DIR "/tests/fixtures/azure_kinect_raw_calibration_001514394512.json");
    ASSERT_FALSE(blob.empty());
    const k4a_calibration_t c = calibrationFrom(blob);
    const auto& p = c.depth_camera_calibration.intrinsics.parameters.param;
    EXPECT_NEAR(332.781067, p.cx, 1e-4);
    EXPECT_NEAR(348.829712, p.cy, 1e-4);
    EXPECT_NEAR(504.607635, p.fx, 1e-4);
    EXPECT_NEAR(504.732513, p.fy, 1e-4);
    for (float v = 0.0f; v < 576.0f; v += 37.5f)
        for (float u = 0.0f; u < 640.0f; u += 41.25f) {
            k4a_float3_t ray;
            ASSERT_TRUE(rayAt(c, u, v, ray));
            k4a_float2_t back;
            ASSERT_TRUE(project(c, ray.xyz.x * 1500.0f, ray.xyz.y * 1500.0f, 1500.0f, back));
            EXPECT_NEAR(u, back.xy.x, 1e-3);
            EXPECT_NEAR(v, back.xy.y, 1e-3);
        }
}

TEST(K4aCalibration, ParsingIgnoresTheNumericLocale)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    const k4a_calibration_t c = calibrationFrom(kTestDeviceBlob);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_NEAR(504.647369, c.depth_camera_calibration.intrinsics.parameters.param.fx, 1e-4);
}

TEST(K4aCalibration, RefusesUnusableBlobs)
{
    const auto refused = [](std::string blob, k4a_depth_mode_t mode = K4A_DEPTH_MODE_NFOV_UNBINNED,
                            std::size_t nulBytes = 1) {
        k4a_calibration_t c{};
        return k4a_calibration_get_from_raw(&blob[0], blob.size() + nulBytes, mode, K4A_COLOR_RESOLUTION_720P, &c)
            == K4A_RESULT_FAILED;
    };
    const std::string good = kTestDeviceBlob;
    ASSERT_FALSE(good.empty());
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    EXPECT_FALSE(refused(good));
    EXPECT_TRUE(refused("not json at all"));
    EXPECT_TRUE(refused(good.substr(0, good.size() / 2)));
    EXPECT_TRUE(refused(replaced("\"SensorWidth\":1024", "\"SensorWidth\":640")));
    EXPECT_TRUE(refused(replaced("LocationD0", "LocationPV0")));
    EXPECT_TRUE(refused(replaced("ModelBrownConrady", "ModelTheta")));
    EXPECT_TRUE(refused(replaced("0.50218582153320313,", "")));
    EXPECT_TRUE(refused(replaced("0.50218582153320313", "\"x\"")));
    EXPECT_TRUE(refused(good, K4A_DEPTH_MODE_OFF));
    EXPECT_TRUE(refused(good, K4A_DEPTH_MODE_NFOV_UNBINNED, 0)) << "no NUL inside the size";
    EXPECT_TRUE(refused(replaced("LocationPV0", "LocationPV1"))) << "no colour camera";
    EXPECT_TRUE(refused(replaced("InertialSensorType_Gyro", "InertialSensorType_None"))) << "no gyro";
    EXPECT_TRUE(refused(replaced("InertialSensorType_Accelerometer", "InertialSensorType_None")))
        << "no accelerometer";
    EXPECT_FALSE(refused(replaced("ModelBrownConrady", "ModelRational6KT")));
}
