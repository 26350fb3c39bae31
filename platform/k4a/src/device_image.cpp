// Images and captures of the SDK's C API in our layer.
#include <k4a/k4a.h>

#include "device_handles.h"

#include <limits>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace k4a_layer {
namespace {

// Pixel buffers of released images, by size, for the next images of that size: a streaming
// camera makes a depth and a colour image at every capture (4.4 MB at 30 frames a second), and
// fresh memory from the system each time cost the capture threads page faults, enough to stall
// three virtual cameras on two cores for tenths of a second. A few buffers per size are kept.
class PixelPool {
public:
    static constexpr std::size_t kKeptPerSize = 8;

    std::vector<std::uint8_t> take(std::size_t size)
    {
        std::vector<std::uint8_t> pixels;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            auto kept = free.find(size);
            if (kept != free.end() && !kept->second.empty()) {
                pixels = std::move(kept->second.back());
                kept->second.pop_back();
            }
        }
        pixels.assign(size, 0); // a new image is black, whether its memory is new or not
        return pixels;
    }

    void give(std::vector<std::uint8_t>&& pixels)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::vector<std::uint8_t>>& kept = free[pixels.size()];
        if (kept.size() < kKeptPerSize)
            kept.push_back(std::move(pixels));
    }

private:
    std::mutex mutex;
    std::map<std::size_t, std::vector<std::vector<std::uint8_t>>> free; // guarded by mutex
};

PixelPool& pixelPool()
{
    static PixelPool* pool = new PixelPool; // never destroyed: images may be released at exit
    return *pool;
}

// Bytes per pixel of the uncompressed formats; 0 for the formats whose stride is the caller's.
int bytesPerPixel(k4a_image_format_t format)
{
    switch (format) {
    case K4A_IMAGE_FORMAT_COLOR_BGRA32:
        return 4;
    case K4A_IMAGE_FORMAT_DEPTH16:
    case K4A_IMAGE_FORMAT_IR16:
    case K4A_IMAGE_FORMAT_CUSTOM16:
        return 2;
    case K4A_IMAGE_FORMAT_CUSTOM8:
        return 1;
    default:
        return 0;
    }
}

bool knownFormat(k4a_image_format_t format)
{
    return format >= K4A_IMAGE_FORMAT_COLOR_MJPG && format <= K4A_IMAGE_FORMAT_CUSTOM;
}

Image* image(k4a_image_t handle)
{
    return fromHandle<Image>(handle);
}

} // namespace

Image* createImage(k4a_image_format_t format, int width, int height, int stride)
{
    if (!knownFormat(format) || width <= 0 || height <= 0 || stride <= 0)
        return nullptr;
    if (stride < static_cast<long long>(width) * bytesPerPixel(format))
        return nullptr;
    const long long size = static_cast<long long>(stride) * height;
    if (size > std::numeric_limits<int>::max())
        return nullptr;
    Image* created = new Image;
    created->format = format;
    created->width = width;
    created->height = height;
    created->stride = stride;
    created->pixels = pixelPool().take(static_cast<std::size_t>(size));
    return created;
}

void retain(Image* target)
{
    target->references.fetch_add(1, std::memory_order_relaxed);
}

void release(Image* target)
{
    if (target && target->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        pixelPool().give(std::move(target->pixels));
        delete target;
    }
}

} // namespace k4a_layer

namespace {

// One more reference to the capture's image `which`, as a handle; null without capture or image.
k4a_image_t sharedImage(k4a_capture_t captureHandle, k4a_layer::Image* k4a_layer::Capture::*which)
{
    auto* capture = k4a_layer::fromHandle<k4a_layer::Capture>(captureHandle);
    if (!capture || !(capture->*which))
        return nullptr;
    k4a_layer::retain(capture->*which);
    return k4a_layer::toHandle<k4a_image_t>(capture->*which);
}

} // namespace

using namespace k4a_layer;

extern "C" {

k4a_image_t k4a_capture_get_color_image(k4a_capture_t capture_handle)
{
    return sharedImage(capture_handle, &Capture::color);
}

k4a_image_t k4a_capture_get_depth_image(k4a_capture_t capture_handle)
{
    return sharedImage(capture_handle, &Capture::depth);
}

void k4a_capture_release(k4a_capture_t capture_handle)
{
    Capture* capture = fromHandle<Capture>(capture_handle);
    if (!capture)
        return;
    release(capture->depth);
    release(capture->color);
    delete capture;
}

k4a_result_t k4a_image_create(k4a_image_format_t format, int width_pixels, int height_pixels, int stride_bytes,
                              k4a_image_t* image_handle)
{
    if (!image_handle)
        return K4A_RESULT_FAILED;
    Image* created = createImage(format, width_pixels, height_pixels, stride_bytes);
    *image_handle = toHandle<k4a_image_t>(created);
    return created ? K4A_RESULT_SUCCEEDED : K4A_RESULT_FAILED;
}

uint8_t* k4a_image_get_buffer(k4a_image_t image_handle)
{
    return image_handle ? image(image_handle)->pixels.data() : nullptr;
}

size_t k4a_image_get_size(k4a_image_t image_handle)
{
    return image_handle ? image(image_handle)->pixels.size() : 0;
}

k4a_image_format_t k4a_image_get_format(k4a_image_t image_handle)
{
    return image_handle ? image(image_handle)->format : K4A_IMAGE_FORMAT_CUSTOM;
}

int k4a_image_get_width_pixels(k4a_image_t image_handle)
{
    return image_handle ? image(image_handle)->width : 0;
}

int k4a_image_get_height_pixels(k4a_image_t image_handle)
{
    return image_handle ? image(image_handle)->height : 0;
}

int k4a_image_get_stride_bytes(k4a_image_t image_handle)
{
    return image_handle ? image(image_handle)->stride : 0;
}

uint64_t k4a_image_get_device_timestamp_usec(k4a_image_t image_handle)
{
    return image_handle ? image(image_handle)->deviceTimestampUsec : 0;
}

uint64_t k4a_image_get_system_timestamp_nsec(k4a_image_t image_handle)
{
    return image_handle ? image(image_handle)->systemTimestampNsec : 0;
}

void k4a_image_release(k4a_image_t image_handle)
{
    release(image(image_handle));
}

} // extern "C"
