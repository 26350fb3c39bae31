// What one camera costs the capture thread that reads it: a virtual camera of the sample scene
// (TAVORIN_VIRTUAL_CAMERAS) renders its frame in k4a_device_get_capture on the caller's thread,
// and every capture's colour is resampled into the depth camera's grid. CPU time per frame; at
// 30 frames a second, 33 ms would be a whole core. The baseline is a copy of the colour bytes.
#include <k4a/k4a.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// One virtual camera, chosen before anything asks the SDK layer for its devices.
const bool oneVirtualCamera = setenv("TAVORIN_VIRTUAL_CAMERAS", "1", 1) == 0;

struct OneCamera {
    k4a_device_t device = nullptr;
    k4a_transformation_t transformation = nullptr;
    k4a_image_t transformed = nullptr;

    OneCamera()
    {
        if (!oneVirtualCamera || K4A_FAILED(k4a_device_open(0, &device)))
            return;
        k4a_device_configuration_t config = K4A_DEVICE_CONFIG_INIT_DISABLE_ALL;
        config.color_format = K4A_IMAGE_FORMAT_COLOR_BGRA32;
        config.color_resolution = K4A_COLOR_RESOLUTION_720P;
        config.depth_mode = K4A_DEPTH_MODE_NFOV_UNBINNED;
        k4a_calibration_t calibration;
        if (K4A_FAILED(k4a_device_get_calibration(device, config.depth_mode, config.color_resolution, &calibration))
            || K4A_FAILED(k4a_device_start_cameras(device, &config)))
            return;
        transformation = k4a_transformation_create(&calibration);
        const int width = calibration.depth_camera_calibration.resolution_width;
        const int height = calibration.depth_camera_calibration.resolution_height;
        k4a_image_create(K4A_IMAGE_FORMAT_COLOR_BGRA32, width, height, width * 4, &transformed);
    }
    ~OneCamera()
    {
        if (transformed)
            k4a_image_release(transformed);
        if (transformation)
            k4a_transformation_destroy(transformation);
        if (device) {
            k4a_device_stop_cameras(device);
            k4a_device_close(device);
        }
    }
    bool ready() const { return transformed != nullptr; }
    k4a_capture_t capture() const
    {
        k4a_capture_t capture = nullptr;
        return k4a_device_get_capture(device, &capture, 1000) == K4A_WAIT_RESULT_SUCCEEDED ? capture : nullptr;
    }
};

OneCamera& camera()
{
    static OneCamera one;
    return one;
}

void BM_VirtualCameraCapture(benchmark::State& state)
{
    if (!camera().ready()) {
        state.SkipWithError("no virtual camera");
        return;
    }
    for (auto _ : state) {
        k4a_capture_t capture = camera().capture();
        if (!capture) {
            state.SkipWithError("no capture");
            return;
        }
        k4a_capture_release(capture);
    }
}
BENCHMARK(BM_VirtualCameraCapture)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// `resample`: the colour resampled into the depth grid; otherwise the baseline, a copy of the
// same number of bytes.
void colourOfOneCapture(benchmark::State& state, bool resample)
{
    if (!camera().ready()) {
        state.SkipWithError("no virtual camera");
        return;
    }
    k4a_capture_t capture = camera().capture();
    if (!capture) {
        state.SkipWithError("no capture");
        return;
    }
    k4a_image_t depth = k4a_capture_get_depth_image(capture);
    k4a_image_t colour = k4a_capture_get_color_image(capture);
    std::vector<std::uint8_t> copy(k4a_image_get_size(camera().transformed));
    for (auto _ : state) {
        if (resample)
            k4a_transformation_color_image_to_depth_camera(camera().transformation, depth, colour, camera().transformed);
        else
            std::memcpy(copy.data(), k4a_image_get_buffer(colour), copy.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    k4a_image_release(depth);
    k4a_image_release(colour);
    k4a_capture_release(capture);
}

BENCHMARK_CAPTURE(colourOfOneCapture, resampled_into_the_depth_grid, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(colourOfOneCapture, copy_of_as_many_bytes, false)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
