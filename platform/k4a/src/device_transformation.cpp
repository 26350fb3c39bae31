// The transformation handle of the SDK's C API in our layer: colour resampled into the depth
// camera's pixel grid through the depth rays, the depth-to-colour extrinsics and the colour
// camera's model.
#include <k4a/k4a.h>

#include "calibration_model.h"
#include "depth_rays.h"
#include "device_handles.h"

#include <cmath>
#include <cstring>

using namespace k4a_layer;

namespace {

constexpr int kBgraBytes = 4;

bool hasImage(const Image* image, k4a_image_format_t format, const k4a_calibration_camera_t& camera)
{
    return image && image->format == format && image->width == camera.resolution_width
        && image->height == camera.resolution_height;
}

// lround of a value above -0.5 (the libm call, per pixel, was a tenth of the resampling).
int nearest(float value)
{
    return static_cast<int>(value + 0.5f);
}

// Each depth pixel takes the colour pixel that sees its point (the depth ray at the measured depth,
// through the depth-to-colour extrinsics and the colour camera's model), or black where no colour
// pixel does.
void resampleColor(const Transformation& t, const Image& depth, const Image& color, Image& out)
{
    const k4a_calibration_extrinsics_t& toColor =
        t.calibration.extrinsics[K4A_CALIBRATION_TYPE_DEPTH][K4A_CALIBRATION_TYPE_COLOR];
    const float* R = toColor.rotation;
    const float* T = toColor.translation;
    const k4a_calibration_camera_t& camera = t.calibration.color_camera_calibration;
    const float maxU = static_cast<float>(camera.resolution_width) - 0.5f;
    const float maxV = static_cast<float>(camera.resolution_height) - 0.5f;
    const int width = depth.width;
    for (int r = 0; r < depth.height; ++r) {
        const auto* depthRow = reinterpret_cast<const std::uint16_t*>(depth.pixels.data() + r * depth.stride);
        std::uint8_t* outRow = out.pixels.data() + r * out.stride;
        const float* rays = t.depthRays.data() + static_cast<std::size_t>(r) * width * 2;
        for (int c = 0; c < width; ++c) {
            std::uint8_t* target = outRow + c * kBgraBytes;
            const float d = depthRow[c];
            const float x = rays[2 * c] * d;
            const float y = rays[2 * c + 1] * d;
            float uv[2];
            const float z = R[6] * x + R[7] * y + R[8] * d + T[2];
            // NaN rays and zero depths fail the first test; lround's bounds: -0.5 < u < width - 0.5.
            if (d > 0.0f && z > 0.0f
                && k4a_model::projectNormalized(camera, (R[0] * x + R[1] * y + R[2] * d + T[0]) / z,
                                                (R[3] * x + R[4] * y + R[5] * d + T[1]) / z, uv)
                && uv[0] > -0.5f && uv[1] > -0.5f && uv[0] < maxU && uv[1] < maxV) {
                std::memcpy(target, color.pixels.data() + nearest(uv[1]) * color.stride + nearest(uv[0]) * kBgraBytes,
                            kBgraBytes);
                continue;
            }
            std::memset(target, 0, kBgraBytes);
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
    const k4a_calibration_camera_t& depthCamera = calibration->depth_camera_calibration;
    if (!depthRays(*calibration, depthCamera.resolution_width, depthCamera.resolution_height, created->depthRays)) {
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
