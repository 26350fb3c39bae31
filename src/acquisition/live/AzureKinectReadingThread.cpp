#include "acquisition/live/AzureKinectReadingThread.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "acquisition/config/DepthCorrectionFile.h"
#include "acquisition/model/DepthToPoints.h"
#include "acquisition/model/RayTable.h"
#include "base/Console.h"

#include <cstring>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace tavorin {

namespace {

constexpr int kXyTableBytesPerPixel = 2 * sizeof(float);
constexpr int kBgraBytesPerPixel = 4;

using ImageHandle = std::unique_ptr<std::remove_pointer_t<k4a_image_t>, decltype(&k4a_image_release)>;
using CaptureHandle = std::unique_ptr<std::remove_pointer_t<k4a_capture_t>, decltype(&k4a_capture_release)>;

// The failed wait for a capture: the one SDK error that the capture loop reports as such.
struct CaptureWaitFailed : std::runtime_error {
    CaptureWaitFailed() : std::runtime_error("Failed to get capture from device!") {}
};

// Raises `failure` when the SDK cannot create the image.
ImageHandle createImage(k4a_image_format_t format, int width, int height, int bytesPerPixel, const char* failure)
{
    k4a_image_t image = nullptr;
    if (K4A_FAILED(k4a_image_create(format, width, height, width * bytesPerPixel, &image)))
        throw std::runtime_error(failure);
    return ImageHandle(image, &k4a_image_release);
}

k4a_wired_sync_mode_t wiredSyncMode(SyncRole role)
{
    switch (role) {
    case SyncRole::Master:
        return K4A_WIRED_SYNC_MODE_MASTER;
    case SyncRole::Subordinate:
        return K4A_WIRED_SYNC_MODE_SUBORDINATE;
    case SyncRole::Standalone:
        break;
    }
    return K4A_WIRED_SYNC_MODE_STANDALONE;
}

} // namespace

k4a_device_configuration_t AzureKinectReadingThread::captureConfiguration(const SyncAssignment& sync)
{
    k4a_device_configuration_t config = K4A_DEVICE_CONFIG_INIT_DISABLE_ALL;
    config.color_format = K4A_IMAGE_FORMAT_COLOR_BGRA32;
    config.color_resolution = K4A_COLOR_RESOLUTION_720P;
    config.depth_mode = K4A_DEPTH_MODE_NFOV_UNBINNED;
    config.camera_fps = K4A_FRAMES_PER_SECOND_30;
    config.synchronized_images_only = true;
    config.depth_delay_off_color_usec = 0;
    config.wired_sync_mode = wiredSyncMode(sync.role);
    config.subordinate_delay_off_master_usec = sync.subordinateDelayUsec;
    config.disable_streaming_indicator = false;
    return config;
}

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

bool AzureKinectReadingThread::open(const SyncAssignment& sync)
{
    const CaptureClock::Origin origin =
        sync.role == SyncRole::Standalone ? CaptureClock::Origin::LeastLatency : CaptureClock::Origin::FirstFrame;
    return openDevice() && start(sync, std::make_shared<CaptureClock>(origin));
}

bool AzureKinectReadingThread::openDevice()
{
    const bool firstAttempt = !attempted;
    attempted = true;
    openingFirstAttempt = firstAttempt;
    if (firstAttempt)
        announceAttempt();
    if (captureThread.joinable() || device)
        return false;
    const std::string failure = openHandle();
    if (!failure.empty()) {
        reportFailure(failure, firstAttempt);
        return false;
    }
    return true;
}

bool AzureKinectReadingThread::start(const SyncAssignment& sync, std::shared_ptr<CaptureClock> clock)
{
    if (!device || captureThread.joinable())
        return false;
    const std::string failure = startStreaming(sync);
    if (!failure.empty()) {
        reportFailure(failure, openingFirstAttempt);
        return false;
    }
    syncAssignment = sync;
    captureClock = std::move(clock);
    if (!reportedFailure.empty())
        announceAttempt();
    reportedFailure.clear();
    // Read once the device streams, so that a device retried while it fails to start does not
    // print a complaint about its file every time.
    loadModelMatrix(liveCameraConfigPath(serial), modelMatrix);
    DepthCorrection loaded;
    if (loadDepthCorrection(depthCorrectionPath(liveCameraConfigPath(serial)), loaded))
        setDepthCorrection(loaded);
    console::out("Started Azure Kinect Reading thread");
    captureThread = std::thread(&AzureKinectReadingThread::captureLoop, this);
    return true;
}

std::optional<SyncJacks> AzureKinectReadingThread::readSyncJacks()
{
    std::lock_guard<std::mutex> lock(deviceMutex);
    SyncJacks jacks;
    if (!device || K4A_FAILED(k4a_device_get_sync_jack(device, &jacks.syncIn, &jacks.syncOut)))
        return std::nullopt;
    return jacks;
}

void AzureKinectReadingThread::announceAttempt() const
{
    console::out("Try to open kinect ", deviceIndex);
}

// Opens the device and reads its serial number. The reason of a failure, with the device closed
// again; empty on success.
std::string AzureKinectReadingThread::openHandle()
{
    if (K4A_FAILED(k4a_device_open(deviceIndex, &device))) {
        device = nullptr;
        return "Fehler: Kinect " + std::to_string(deviceIndex)
            + " konnte nicht gestartet werden. Ist eine Stromversorgung vorhanden?";
    }
    try {
        serial = readSerialNumber();
    } catch (const std::exception& error) {
        closeDevice();
        return error.what();
    }
    return std::string();
}

// Starts the opened device's cameras in its role on the sync cable and reads its calibration.
// The reason of a failure, with the device closed again; empty on success.
std::string AzureKinectReadingThread::startStreaming(const SyncAssignment& sync)
{
    try {
        startCameras(sync);
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

void AzureKinectReadingThread::startCameras(const SyncAssignment& sync)
{
    const k4a_device_configuration_t config = captureConfiguration(sync);
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
void AzureKinectReadingThread::handToSink(const std::uint16_t* depthMm, k4a_image_t depth, double captureSeconds)
{
    std::lock_guard<std::mutex> lock(sinkMutex);
    if (!frameSink)
        return;
    const CapturedFrame frame{depthMm,
                              k4a_image_get_buffer(transformedColor),
                              imageWidth,
                              imageHeight,
                              k4a_image_get_device_timestamp_usec(depth),
                              k4a_image_get_system_timestamp_nsec(depth),
                              captureSeconds};
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
    if (!fillRayTable(calibration, kLiveCameraPoints.tableY, reinterpret_cast<float*>(k4a_image_get_buffer(xyTable))))
        throw std::runtime_error("Calibration contained invalid transformation parameters!");
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
    const double captureSeconds = captureClock->hostSeconds(k4a_image_get_device_timestamp_usec(depth.get()),
                                                            k4a_image_get_system_timestamp_nsec(depth.get()));
    handToSink(depthMm, depth.get(), captureSeconds);
    const std::lock_guard<std::mutex> lock(frameMutex);
    depthToPoints(depthMm, reinterpret_cast<const float*>(k4a_image_get_buffer(xyTable)), pixels, pointStorage.get(),
                  kLiveCameraPoints);
    corrections.removeFrom(pointStorage.get(), pixels);
    std::memcpy(colorStorage.get(), k4a_image_get_buffer(transformedColor), pixels * kBgraBytesPerPixel);
    publishedCaptureSeconds.store(captureSeconds, std::memory_order_release);
    return true;
}

void AzureKinectReadingThread::closeDevice()
{
    std::lock_guard<std::mutex> lock(deviceMutex);
    if (device)
        k4a_device_close(device);
    device = nullptr;
}

} // namespace tavorin
