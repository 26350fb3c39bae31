// The depth camera node: the cloud coloured from its B, G, R, A bytes or by its camera, pixels
// without depth never drawn, a hidden cloud never drawn, and the GPU buffers following the
// record's resolution.
#include "GLTestContext.h"
#include "LightPlanningView.h"

#include "scene/CameraIdentity.h"
#include "scene/DepthCamera.h"
#include "scene/DepthCameraData.h"

#include <QColor>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

using tavorin::cameraColor, tavorin::DepthCamera, tavorin::DepthCameraData, tavorin::Mat4, tavorin::translate, tavorin::Vec4;

namespace {

constexpr int kWidth = 1200;
constexpr int kHeight = 900; // fine enough that neighbouring points are more than a pixel apart
constexpr float kEyeZ = 0.2f;
constexpr float kSensorPixelPitch = 1.0f / 504.0f; // radians per depth pixel, narrow field of view

// A camera record with its own buffers: a width x height grid of points on the plane z = depth
// (camera coordinates, metres), spaced as a depth sensor's pixels are at that depth (1/504 rad),
// all of one B, G, R, A colour.
struct CloudRecord {
    CloudRecord(int width, int height, float depth, std::uint8_t b, std::uint8_t g, std::uint8_t r)
        : points(static_cast<std::size_t>(width) * height * 4), colors(points.size())
    {
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                const std::size_t i = (static_cast<std::size_t>(row) * width + column) * 4;
                points[i] = (column - width / 2) * depth * kSensorPixelPitch;
                points[i + 1] = (row - height / 2) * depth * kSensorPixelPitch;
                points[i + 2] = depth;
                points[i + 3] = 0.0f;
                colors[i] = b;
                colors[i + 1] = g;
                colors[i + 2] = r;
                colors[i + 3] = 255;
            }
        }
        record = std::make_shared<DepthCameraData>();
        record->points = points.data();
        record->colors = colors.data();
        record->hasPointCloud = true;
        record->width = width;
        record->height = height;
    }

    std::vector<float> points;
    std::vector<std::uint8_t> colors;
    std::shared_ptr<DepthCameraData> record;
};

int pixelsNear(const QImage& image, int r, int g, int b)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - r) <= 3 && std::abs(c.green() - g) <= 3 && std::abs(c.blue() - b) <= 3)
                ++count;
        }
    return count;
}

class DepthCameraView : public GLTestContext {
protected:
    // Just in front of the camera body, looking along its view axis (+z of the points).
    void setUpGL() override { viewFrom(kWidth, kHeight, Vec4::point(0, 0, kEyeZ), Vec4::point(0, 0, 1.0f)); }
    void releaseGL() override { node.release(gl); }

    void draw(const std::shared_ptr<DepthCameraData>& record)
    {
        node.setLocalMatrix(record->modelMatrix);
        node.updateTransform(context, Mat4());
        node.setData(record);
        node.draw(context, gl);
    }

    DepthCamera node;
};

} // namespace

TEST_F(DepthCameraView, PointsTakeTheirColourFromTheBGRABytesAndPixelsWithoutDepthAreNotDrawn)
{
    constexpr int kColumns = 160;
    constexpr int kRows = 120;
    CloudRecord cloud(kColumns, kRows, 1.0f, 20, 40, 220);
    draw(cloud.record);
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const QImage image = readBack();
    // The grid's footprint on screen, from its corners; the points close the surface within it.
    const QPoint low = pixelOf(context, Vec4::point(-kColumns / 2 * kSensorPixelPitch, -kRows / 2 * kSensorPixelPitch, 1.0f));
    const QPoint high = pixelOf(context, Vec4::point(kColumns / 2 * kSensorPixelPitch, kRows / 2 * kSensorPixelPitch, 1.0f));
    const int footprint = std::abs(high.x() - low.x()) * std::abs(high.y() - low.y());
    ASSERT_GT(footprint, 1000);
    EXPECT_GT(pixelsNear(image, 220, 40, 20), footprint * 9 / 10) << "red from the third byte, no gaps";
    EXPECT_EQ(pixelsNear(image, 20, 40, 220), 0) << "no channel swap";

    // A frame without depth: zeros (device path) and NaNs (pinhole path), in bright green.
    bindTarget(kWidth, kHeight);
    CloudRecord empty(kColumns, kRows, 1.0f, 0, 255, 0);
    for (std::size_t i = 0; i < empty.points.size(); i += 4) {
        const bool zero = (i / 4) % 2 == 0;
        for (std::size_t k = 0; k < 3; ++k)
            empty.points[i + k] = zero ? 0.0f : NAN;
    }
    draw(empty.record);
    EXPECT_EQ(pixelsNear(readBack(), 0, 255, 0), 0);
}

TEST_F(DepthCameraView, ModelMatrixPlacesTheCloud)
{
    CloudRecord cloud(40, 40, 1.0f, 20, 40, 220);
    cloud.record->modelMatrix = translate(Mat4(), 0.3f, 0.0f, 0.0f);
    draw(cloud.record);
    const QImage image = readBack();
    const QPoint expected = pixelOf(context, Vec4::point(0.3f, 0.0f, 1.0f));
    const QColor centre = image.pixelColor(expected);
    EXPECT_NEAR(centre.red(), 220, 3) << "at " << expected.x() << ", " << expected.y();
    EXPECT_NE(image.pixelColor(pixelOf(context, Vec4::point(0.0f, 0.0f, 1.0f))).red(), 220);
}

TEST_F(DepthCameraView, BuffersAreMadeOncePerResolutionAndKeptForARecordWithoutCloud)
{
    CloudRecord large(64, 48, 1.0f, 20, 40, 220);
    draw(large.record);
    EXPECT_TRUE(node.pointCloudBuffers().uploaded());
    EXPECT_EQ(node.pointCloudBuffers().pointCount, 64 * 48);

    CloudRecord sameSize(64, 48, 1.5f, 20, 40, 220);
    const GLuint pointsBuffer = node.pointCloudBuffers().points.name();
    draw(sameSize.record);
    EXPECT_EQ(node.pointCloudBuffers().points.name(), pointsBuffer) << "a camera of equal size reuses them";

    CloudRecord small(32, 24, 1.0f, 20, 40, 220);
    draw(small.record);
    EXPECT_EQ(node.pointCloudBuffers().pointCount, 32 * 24) << "re-created for the new resolution";
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    auto noCloud = std::make_shared<DepthCameraData>();
    std::ostringstream console;
    std::streambuf* previous = std::cout.rdbuf(console.rdbuf());
    draw(noCloud);
    std::cout.rdbuf(previous);
    EXPECT_EQ(console.str(), "No point cloud available.\n");
    EXPECT_EQ(node.pointCloudBuffers().pointCount, 32 * 24) << "the buffers stay as they were";

    auto emptyImage = std::make_shared<DepthCameraData>();
    emptyImage->hasPointCloud = true;
    node.release(gl);
    draw(emptyImage);
    EXPECT_FALSE(node.pointCloudBuffers().uploaded()) << "a 0 x 0 record uploads nothing";
    EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(DepthCameraView, ColouredByCameraEveryPointHasTheCameraColourShadedByItsImageBrightness)
{
    constexpr std::size_t kCamera = 1;
    const Vec4 colour = cameraColor(kCamera);
    struct Case {
        const char* what;
        std::uint8_t grey;  // the image's B = G = R
        bool withImage;     // false: a camera without colour (no colour bytes at all)
        float share;        // of the camera's colour expected on screen
    };
    const Case cases[] = {
        {"white image", 255, true, 1.0f},
        {"black image", 0, true, 0.45f},
        {"mid-grey image", 128, true, 0.45f + 0.55f * 128.0f / 255.0f},
        {"no colour image, 1 m away", 0, false, 1.0f},
    };
    for (const Case& c : cases) {
        bindTarget(kWidth, kHeight);
        CloudRecord cloud(40, 40, 1.0f, c.grey, c.grey, c.grey);
        cloud.record->hasColor = c.withImage;
        if (!c.withImage)
            cloud.record->colors = nullptr;
        DepthCamera::Appearance appearance;
        appearance.color = colour;
        appearance.colorByCamera = true;
        node.setAppearance(appearance);
        draw(cloud.record);
        EXPECT_EQ(gl->glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << c.what;
        const QColor centre = readBack().pixelColor(pixelOf(context, Vec4::point(0.0f, 0.0f, 1.0f)));
        EXPECT_NEAR(centre.redF(), colour.x * c.share, 0.02) << c.what;
        EXPECT_NEAR(centre.greenF(), colour.y * c.share, 0.02) << c.what;
        EXPECT_NEAR(centre.blueF(), colour.z * c.share, 0.02) << c.what;
    }
}

TEST_F(DepthCameraView, AHiddenCloudIsNotDrawnAndItsBodyLosesItsColour)
{
    CloudRecord cloud(40, 40, 1.0f, 20, 40, 220);
    DepthCamera::Appearance appearance;
    appearance.color = cameraColor(2);
    node.setAppearance(appearance);
    EXPECT_EQ(node.bodyColor().x, appearance.color.x);
    EXPECT_EQ(node.bodyColor().y, appearance.color.y);

    appearance.cloudShown = false;
    node.setAppearance(appearance);
    draw(cloud.record);
    EXPECT_EQ(pixelsNear(readBack(), 220, 40, 20), 0);
    EXPECT_LT(node.bodyColor().x + node.bodyColor().y + node.bodyColor().z, 0.1f) << "a dark body";
}
