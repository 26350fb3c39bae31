// The transformation handle of the SDK's C API in our layer: colour resampled into the depth
// camera's pixel grid through the depth rays, the depth-to-colour extrinsics and the colour
// camera's model.
#include <k4a/k4a.h>

#include "calibration_model.h"
#include "device_handles.h"

#include <cmath>
#include <cstring>
#include <limits>

using namespace k4a_layer;

namespace {

constexpr int kBgraBytes = 4;

} // namespace

namespace k4a_layer {

bool buildDepthRays(const k4a_calibration_t& calibration, std::vector<float>& rays)
{
    const int width = calibration.depth_camera_calibration.resolution_width;
    const int height = calibration.depth_camera_calibration.resolution_height;
    if (width <= 0 || height <= 0)
        return false;
    rays.resize(static_cast<std::size_t>(width) * height * 2);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            k4a_float2_t pixel;
            pixel.xy = {static_cast<float>(c), static_cast<float>(r)};
            k4a_float3_t ray;
            int valid = 0;
            if (K4A_FAILED(k4a_calibration_2d_to_3d(&calibration, &pixel, 1.0f, K4A_CALIBRATION_TYPE_DEPTH,
                                                    K4A_CALIBRATION_TYPE_DEPTH, &ray, &valid)))
                return false;
            const std::size_t k = (static_cast<std::size_t>(r) * width + c) * 2;
            rays[k] = valid ? ray.xyz.x : std::numeric_limits<float>::quiet_NaN();
            rays[k + 1] = valid ? ray.xyz.y : std::numeric_limits<float>::quiet_NaN();
        }
    return true;
}

} // namespace k4a_layer

namespace {

bool hasImage(const Image* image, k4a_image_format_t format, const k4a_calibration_camera_t& camera)
{
    return image && image->format == format && image->width == camera.resolution_width
        && image->height == camera.resolution_height;
}

// The colour pixel (column, row) that sees the depth camera's point; false outside the image.
bool colorPixelOf(const k4a_calibration_t& calibration, const float pointMm[3], int& column, int& row)
{
    const k4a_calibration_extrinsics_t& toColor =
        calibration.extrinsics[K4A_CALIBRATION_TYPE_DEPTH][K4A_CALIBRATION_TYPE_COLOR];
    float p[3];
    for (int i = 0; i < 3; ++i)
        p[i] = toColor.rotation[i * 3] * pointMm[0] + toColor.rotation[i * 3 + 1] * pointMm[1]
            + toColor.rotation[i * 3 + 2] * pointMm[2] + toColor.translation[i];
    if (!(p[2] > 0.0f))
        return false;
    const k4a_calibration_camera_t& camera = calibration.color_camera_calibration;
    float uv[2];
    if (!k4a_model::projectNormalized(camera, p[0] / p[2], p[1] / p[2], uv))
        return false;
    column = static_cast<int>(std::lround(uv[0]));
    row = static_cast<int>(std::lround(uv[1]));
    return column >= 0 && row >= 0 && column < camera.resolution_width && row < camera.resolution_height;
}

void resampleColor(const Transformation& t, const Image& depth, const Image& color, Image& out)
{
    const int width = depth.width;
    for (int r = 0; r < depth.height; ++r) {
        const auto* depthRow = reinterpret_cast<const std::uint16_t*>(depth.pixels.data() + r * depth.stride);
        std::uint8_t* outRow = out.pixels.data() + r * out.stride;
        for (int c = 0; c < width; ++c) {
            std::uint8_t* target = outRow + c * kBgraBytes;
            std::memset(target, 0, kBgraBytes);
            const float d = depthRow[c];
            const std::size_t k = (static_cast<std::size_t>(r) * width + c) * 2;
            const float x = t.depthRays[k];
            const float y = t.depthRays[k + 1];
            if (d == 0.0f || std::isnan(x) || std::isnan(y))
                continue;
            const float pointMm[3] = {x * d, y * d, d};
            int column = 0;
            int row = 0;
            if (colorPixelOf(t.calibration, pointMm, column, row))
                std::memcpy(target, color.pixels.data() + row * color.stride + column * kBgraBytes, kBgraBytes);
        }
    }
}

} // namespace

extern "C" {

k4a_transformation_t k4a_transformation_create(const k4a_calibration_t* calibration)
{
    if (!calibration)
        return nullptr;
    Transformation* created = new Transformation;
    created->calibration = *calibration;
    if (!buildDepthRays(*calibration, created->depthRays)) {
        delete created;
        return nullptr;
    }
    return toHandle<k4a_transformation_t>(created);
}

void k4a_transformation_destroy(k4a_transformation_t transformation_handle)
{
    delete fromHandle<Transformation>(transformation_handle);
}

k4a_result_t k4a_transformation_color_image_to_depth_camera(k4a_transformation_t transformation_handle,
                                                            const k4a_image_t depth_image,
                                                            const k4a_image_t color_image,
                                                            k4a_image_t transformed_color_image)
{
    const Transformation* t = fromHandle<Transformation>(transformation_handle);
    const Image* depth = fromHandle<Image>(depth_image);
    const Image* color = fromHandle<Image>(color_image);
    Image* out = fromHandle<Image>(transformed_color_image);
    if (!t || !hasImage(depth, K4A_IMAGE_FORMAT_DEPTH16, t->calibration.depth_camera_calibration)
        || !hasImage(color, K4A_IMAGE_FORMAT_COLOR_BGRA32, t->calibration.color_camera_calibration)
        || !hasImage(out, K4A_IMAGE_FORMAT_COLOR_BGRA32, t->calibration.depth_camera_calibration))
        return K4A_RESULT_FAILED;
    resampleColor(*t, *depth, *color, *out);
    return K4A_RESULT_SUCCEEDED;
}

} // extern "C"
