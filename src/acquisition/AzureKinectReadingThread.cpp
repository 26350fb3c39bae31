#include "acquisition/AzureKinectReadingThread.h"

#include "acquisition/CameraConfigFiles.h"
#include "base/Console.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavorin {

namespace {

constexpr int kXyTableBytesPerPixel = 2 * sizeof(float);
constexpr int kBgraBytesPerPixel = 4;
constexpr float kUnitDepthMm = 1.0f;

using ImageHandle = std::unique_ptr<std::remove_pointer_t<k4a_image_t>, decltype(&k4a_image_release)>;
using CaptureHandle = std::unique_ptr<std::remove_pointer_t<k4a_capture_t>, decltype(&k4a_capture_release)>;

// The failed wait for a capture: the one SDK error that the capture loop reports as such.
struct CaptureWaitFailed : std::runtime_error {
    CaptureWaitFailed() : std::runtime_error("Failed to get capture from device!") {}
};

k4a_device_configuration_t captureConfiguration()
{
    k4a_device_configuration_t config = K4A_DEVICE_CONFIG_INIT_DISABLE_ALL;
    config.color_format = K4A_IMAGE_FORMAT_COLOR_BGRA32;
    config.color_resolution = K4A_COLOR_RESOLUTION_720P;
    config.depth_mode = K4A_DEPTH_MODE_NFOV_UNBINNED;
    config.camera_fps = K4A_FRAMES_PER_SECOND_30;
    config.synchronized_images_only = true;
    config.depth_delay_off_color_usec = 0;
    config.wired_sync_mode = K4A_WIRED_SYNC_MODE_STANDALONE;
    config.subordinate_delay_off_master_usec = 0;
    config.disable_streaming_indicator = false;
    return config;
}

std::uint32_t bitsOf(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

// Not NaN. An integer compare on the bits: the compiler vectorises it, where it keeps a
// floating-point compare (which may trap) as a branch.
bool isNumber(float value)
{
    constexpr std::uint32_t kAbsMask = 0x7fffffffu;
    constexpr std::uint32_t kInfinityBits = 0x7f800000u;
    return (bitsOf(value) & kAbsMask) <= kInfinityBits;
}

std::uint32_t allOnesIf(bool condition)
{
    return 0u - static_cast<std::uint32_t>(condition);
}

// value where mask is all ones, +0 where it is zero.
float keepBits(float value, std::uint32_t mask)
{
    const std::uint32_t bits = bitsOf(value) & mask;
    float kept;
    std::memcpy(&kept, &bits, sizeof(kept));
    return kept;
}

constexpr float kMmPerMetre = 1000.0f;

// Raises `failure` when the SDK cannot create the image.
ImageHandle createImage(k4a_image_format_t format, int width, int height, int bytesPerPixel, const char* failure)
{
    k4a_image_t image = nullptr;
    if (K4A_FAILED(k4a_image_create(format, width, height, width * bytesPerPixel, &image)))
        throw std::runtime_error(failure);
    return ImageHandle(image, &k4a_image_release);
}

// The validity test and the selection work on the bits of the floats, without branches.
void convertEachPixel(const std::uint16_t* depthMm, const float* xyTable, std::size_t pixelCount, float* points)
{
    for (std::size_t k = 0; k < pixelCount; ++k) {
        const float d = depthMm[k];
        const float x = xyTable[2 * k];
        const float y = xyTable[2 * k + 1];
        const std::uint32_t keep = allOnesIf((depthMm[k] != 0) & isNumber(x) & isNumber(y));
        points[4 * k] = keepBits(d * x / -kMmPerMetre, keep);
        points[4 * k + 1] = keepBits(d * y / -kMmPerMetre, keep);
        points[4 * k + 2] = keepBits(d / kMmPerMetre, keep);
        points[4 * k + 3] = 0.0f;
    }
}

#if defined(__SSE2__)
// Four pixels per step with the same operations as convertEachPixel, so the same bits; the four
// points are transposed in registers and written with four 16-byte stores. Returns the pixels done (a
// multiple of four); the caller converts the rest.
std::size_t convertFourPixelsAtATime(const std::uint16_t* depthMm, const float* xyTable, std::size_t pixelCount,
                                     float* points)
{
    constexpr int kAbsMask = 0x7fffffff;
    constexpr int kInfinityBits = 0x7f800000;
    const __m128 minusMmPerMetre = _mm_set1_ps(-kMmPerMetre);
    const __m128 mmPerMetre = _mm_set1_ps(kMmPerMetre);
    const __m128i absMask = _mm_set1_epi32(kAbsMask);
    const __m128i infinity = _mm_set1_epi32(kInfinityBits);
    const __m128i zero = _mm_setzero_si128();
    const std::size_t end = pixelCount - pixelCount % 4;
    for (std::size_t k = 0; k < end; k += 4) {
        const __m128i depth = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(depthMm + k)), zero);
        const __m128 d = _mm_cvtepi32_ps(depth);
        const __m128 xy01 = _mm_loadu_ps(xyTable + 2 * k);
        const __m128 xy23 = _mm_loadu_ps(xyTable + 2 * k + 4);
        const __m128 x = _mm_shuffle_ps(xy01, xy23, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 y = _mm_shuffle_ps(xy01, xy23, _MM_SHUFFLE(3, 1, 3, 1));
        // NaN: the magnitude's bits above those of infinity (a signed compare suffices below 2^31).
        const __m128i xNaN = _mm_cmpgt_epi32(_mm_and_si128(_mm_castps_si128(x), absMask), infinity);
        const __m128i yNaN = _mm_cmpgt_epi32(_mm_and_si128(_mm_castps_si128(y), absMask), infinity);
        const __m128 drop = _mm_castsi128_ps(_mm_or_si128(_mm_or_si128(xNaN, yNaN), _mm_cmpeq_epi32(depth, zero)));
        __m128 px = _mm_andnot_ps(drop, _mm_div_ps(_mm_mul_ps(d, x), minusMmPerMetre));
        __m128 py = _mm_andnot_ps(drop, _mm_div_ps(_mm_mul_ps(d, y), minusMmPerMetre));
        __m128 pz = _mm_andnot_ps(drop, _mm_div_ps(d, mmPerMetre));
        __m128 pw = _mm_setzero_ps();
        _MM_TRANSPOSE4_PS(px, py, pz, pw);
        float* p = points + 4 * k;
        _mm_storeu_ps(p, px);
        _mm_storeu_ps(p + 4, py);
        _mm_storeu_ps(p + 8, pz);
        _mm_storeu_ps(p + 12, pw);
    }
    return end;
}
#endif

} // namespace

AzureKinectReadingThread::AzureKinectReadingThread(std::uint32_t deviceIndex_) : deviceIndex(deviceIndex_)
{
    console::out("Created Thread for Kinect ", deviceIndex);
}

AzureKinectReadingThread::~AzureKinectReadingThread()
{
    if (captureThread.joinable())
        stop();
    if (xyTable)
        k4a_image_release(xyTable);
    if (transformedColor)
        k4a_image_release(transformedColor);
    if (transformation)
        k4a_transformation_destroy(transformation);
    closeDevice();
}

bool AzureKinectReadingThread::open()
{
    const bool firstAttempt = !attempted;
    attempted = true;
    if (firstAttempt)
        announceAttempt();
    if (captureThread.joinable() || device)
        return false;
    const std::string failure = startDevice();
    if (!failure.empty()) {
        reportFailure(failure, firstAttempt);
        return false;
    }
    if (!reportedFailure.empty())
        announceAttempt();
    reportedFailure.clear();
    // Read once the device streams, so that a device retried while it fails to start does not
    // print a complaint about its file every time.
    loadModelMatrix(liveCameraConfigPath(serial), modelMatrix);
    console::out("Started Azure Kinect Reading thread");
    captureThread = std::thread(&AzureKinectReadingThread::captureLoop, this);
    return true;
}

void AzureKinectReadingThread::announceAttempt() const
{
    console::out("Try to open kinect ", deviceIndex);
}

// Opens the device, reads its serial number, starts its cameras and reads its calibration. The
// reason of a failure, with the device closed again; empty on success.
std::string AzureKinectReadingThread::startDevice()
{
    if (K4A_FAILED(k4a_device_open(deviceIndex, &device))) {
        device = nullptr;
        return "Fehler: Kinect " + std::to_string(deviceIndex)
            + " konnte nicht gestartet werden. Ist eine Stromversorgung vorhanden?";
    }
    try {
        serial = readSerialNumber();
        startCameras();
        readCalibration();
        readRawCalibration();
    } catch (const std::exception& error) {
        closeDevice();
        return error.what();
    }
    return std::string();
}

// Standard error; a retry repeats nothing that has been printed already.
void AzureKinectReadingThread::reportFailure(const std::string& failure, bool firstAttempt)
{
    if (failure == reportedFailure)
        return;
    if (!firstAttempt)
        announceAttempt();
    console::err(failure);
    reportedFailure = failure;
}

std::string AzureKinectReadingThread::readSerialNumber()
{
    size_t size = 0;
    if (k4a_device_get_serialnum(device, nullptr, &size) != K4A_BUFFER_RESULT_TOO_SMALL || size == 0)
        throw std::runtime_error("Failed to read device serial number!");
    std::vector<char> text(size);
    if (k4a_device_get_serialnum(device, text.data(), &size) != K4A_BUFFER_RESULT_SUCCEEDED)
        throw std::runtime_error("Failed to read device serial number!");
    return std::string(text.data(), strnlen(text.data(), text.size()));
}

void AzureKinectReadingThread::startCameras()
{
    const k4a_device_configuration_t config = captureConfiguration();
    if (K4A_FAILED(k4a_device_start_cameras(device, &config)))
        throw std::runtime_error("Failed to start cameras!");
}

void AzureKinectReadingThread::readCalibration()
{
    if (K4A_FAILED(k4a_device_get_calibration(device, K4A_DEPTH_MODE_NFOV_UNBINNED, K4A_COLOR_RESOLUTION_720P,
                                              &calibration)))
        throw std::runtime_error("Failed to read device calibration!");
    transformation = k4a_transformation_create(&calibration);
    if (!transformation)
        throw std::runtime_error("Failed to create transformation!");
}

// A device without a raw blob still streams; only its recordings lack the blob.
void AzureKinectReadingThread::readRawCalibration()
{
    rawCalibrationBlob.clear();
    size_t size = 0;
    if (k4a_device_get_raw_calibration(device, nullptr, &size) != K4A_BUFFER_RESULT_TOO_SMALL || size == 0)
        return;
    std::vector<std::uint8_t> blob(size);
    if (k4a_device_get_raw_calibration(device, blob.data(), &size) != K4A_BUFFER_RESULT_SUCCEEDED)
        return;
    const char* text = reinterpret_cast<const char*>(blob.data());
    rawCalibrationBlob.assign(text, strnlen(text, std::min(size, blob.size())));
}

void AzureKinectReadingThread::setFrameSink(std::shared_ptr<CaptureFrameSink> sink)
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    frameSink = std::move(sink);
}

// Capture thread.
void AzureKinectReadingThread::handToSink(const std::uint16_t* depthMm, k4a_image_t depth)
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    if (!frameSink)
        return;
    const CapturedFrame frame{depthMm,
                              k4a_image_get_buffer(transformedColor),
                              imageWidth,
                              imageHeight,
                              k4a_image_get_device_timestamp_usec(depth),
                              k4a_image_get_system_timestamp_nsec(depth)};
    frameSink->onFrame(frame);
}

void AzureKinectReadingThread::requestStop()
{
    stopRequested.store(true);
    std::lock_guard<std::mutex> lock(deviceMutex);
    if (device)
        k4a_device_stop_cameras(device);
}

void AzureKinectReadingThread::stop()
{
    requestStop();
    if (captureThread.joinable()) {
        captureThread.join();
        console::out("Stopped Azure Kinect Reading thread");
    }
    stopped = true;
}

// Capture thread. Errors end only this device: it is closed and the thread leaves. A wait that
// fails because requestStop() stopped the cameras is the normal end, not an error.
void AzureKinectReadingThread::captureLoop()
{
    try {
        publishBuffers();
        buildXyTable();
        createTransformedColor();
        while (!stopRequested.load() && captureFrame()) {
        }
    } catch (const CaptureWaitFailed&) {
        if (!stopRequested.load())
            console::err("Error while reading the capture (try-catch).");
    } catch (const std::exception& error) {
        console::err(error.what());
    }
    stopRequested.store(true);
    closeDevice();
}

void AzureKinectReadingThread::publishBuffers()
{
    imageWidth = calibration.depth_camera_calibration.resolution_width;
    imageHeight = calibration.depth_camera_calibration.resolution_height;
    if (imageWidth <= 0 || imageHeight <= 0)
        throw std::runtime_error("Failed to read device calibration!");
    const std::size_t pixels = static_cast<std::size_t>(imageWidth) * imageHeight;
    pointStorage = std::make_unique<float[]>(pixels * 4);
    colorStorage = std::make_unique<std::uint8_t[]>(pixels * kBgraBytesPerPixel);
    publishedPoints.store(pointStorage.get(), std::memory_order_release);
    publishedColors.store(colorStorage.get(), std::memory_order_release);
}

void AzureKinectReadingThread::buildXyTable()
{
    xyTable = createImage(K4A_IMAGE_FORMAT_CUSTOM, imageWidth, imageHeight, kXyTableBytesPerPixel,
                          "Failed to create image!")
                  .release();
    auto* table = reinterpret_cast<float*>(k4a_image_get_buffer(xyTable));
    constexpr float kNoRay = std::numeric_limits<float>::quiet_NaN();
    for (int r = 0; r < imageHeight; ++r)
        for (int c = 0; c < imageWidth; ++c) {
            k4a_float2_t pixel;
            pixel.xy = {static_cast<float>(c), static_cast<float>(r)};
            k4a_float3_t ray;
            int valid = 0;
            if (K4A_FAILED(k4a_calibration_2d_to_3d(&calibration, &pixel, kUnitDepthMm, K4A_CALIBRATION_TYPE_DEPTH,
                                                    K4A_CALIBRATION_TYPE_DEPTH, &ray, &valid)))
                throw std::runtime_error("Calibration contained invalid transformation parameters!");
            float* entry = table + (static_cast<std::size_t>(r) * imageWidth + c) * 2;
            entry[0] = valid ? ray.xyz.x : kNoRay;
            entry[1] = valid ? ray.xyz.y : kNoRay;
        }
}

// Made once per device: the transformation refills it from every capture.
void AzureKinectReadingThread::createTransformedColor()
{
    transformedColor = createImage(K4A_IMAGE_FORMAT_COLOR_BGRA32, imageWidth, imageHeight, kBgraBytesPerPixel,
                                   "Transformed color image is null!")
                           .release();
}

// One capture into the buffers; false when the loop must end (the reason is printed).
bool AzureKinectReadingThread::captureFrame()
{
    k4a_capture_t rawCapture = nullptr;
    switch (k4a_device_get_capture(device, &rawCapture, K4A_WAIT_INFINITE)) {
    case K4A_WAIT_RESULT_SUCCEEDED:
        break;
    case K4A_WAIT_RESULT_TIMEOUT:
        console::err("Error while reading the capture (returned false).");
        return false;
    default:
        throw CaptureWaitFailed();
    }
    const CaptureHandle capture(rawCapture, &k4a_capture_release);
    const ImageHandle depth(k4a_capture_get_depth_image(capture.get()), &k4a_image_release);
    const ImageHandle color(k4a_capture_get_color_image(capture.get()), &k4a_image_release);
    if (!depth) {
        console::err("Depth image is null!");
        return false;
    }
    if (!color) {
        console::err("Color image is null!");
        return false;
    }
    if (K4A_FAILED(k4a_transformation_color_image_to_depth_camera(transformation, depth.get(), color.get(),
                                                                  transformedColor)))
        throw std::runtime_error("Failed to convert color image to depth camera geometry!");

    const std::size_t pixels = static_cast<std::size_t>(imageWidth) * imageHeight;
    const auto* depthMm = reinterpret_cast<const std::uint16_t*>(k4a_image_get_buffer(depth.get()));
    handToSink(depthMm, depth.get());
    convertToPoints(depthMm, reinterpret_cast<const float*>(k4a_image_get_buffer(xyTable)), pixels,
                    pointStorage.get());
    std::memcpy(colorStorage.get(), k4a_image_get_buffer(transformedColor), pixels * kBgraBytesPerPixel);
    return true;
}

void AzureKinectReadingThread::convertToPoints(const std::uint16_t* depthMm, const float* xyTable_,
                                               std::size_t pixelCount, float* points)
{
    std::size_t done = 0;
#if defined(__SSE2__)
    done = convertFourPixelsAtATime(depthMm, xyTable_, pixelCount, points);
#endif
    convertEachPixel(depthMm + done, xyTable_ + 2 * done, pixelCount - done, points + 4 * done);
}

void AzureKinectReadingThread::closeDevice()
{
    std::lock_guard<std::mutex> lock(deviceMutex);
    if (device)
        k4a_device_close(device);
    device = nullptr;
}

} // namespace tavorin
