#include "network/NetworkCamera.h"

#include "acquisition/CameraConfigFiles.h"
#include "acquisition/DepthCorrectionFile.h"
#include "acquisition/DepthToPoints.h"

#include <chrono>

namespace tavorin {

namespace {

constexpr std::uint32_t kMaxImageSide = 4096;

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

NetworkCamera::NetworkCamera(std::string nameSpace_)
    : nameSpace(std::move(nameSpace_)), configFile("config/cameras/ros/" + pathSafeSerial(nameSpace) + ".json")
{
    loadModelMatrix(configFile, modelMatrix);
    DepthCorrection loaded;
    if (loadDepthCorrection(depthCorrectionPath(configFile), loaded))
        setDepthCorrection(loaded);
}

std::string NetworkCamera::takeCameraInfo(const CameraInfoFields& info)
{
    const std::string fault = cameraInfoFault(info, kMaxImageSide);
    if (!fault.empty())
        return fault;
    if (modelReady.load() && (info.width != cameraModel.width || info.height != cameraModel.height))
        return "changed its image size from " + std::to_string(cameraModel.width) + " x " + std::to_string(cameraModel.height)
            + " to " + std::to_string(info.width) + " x " + std::to_string(info.height);
    if (modelReady.load() && info.k == cameraModel.k && info.d == cameraModel.d && info.distortionModel == cameraModel.distortionModel)
        return {};
    std::vector<float> table = unitDepthRays(info);
    std::lock_guard<std::mutex> lock(frameMutex);
    rays = std::move(table);
    cameraModel = info;
    imageWidth.store(info.width);
    imageHeight.store(info.height);
    if (!pointStorage)
        pointStorage.reset(new float[std::size_t(info.width) * info.height * 4]());
    modelReady.store(true, std::memory_order_release);
    return {};
}

std::string NetworkCamera::takeDepth(const std::uint16_t* depthMm, std::uint32_t width, std::uint32_t height,
                                     double stampSeconds)
{
    if (!modelReady.load(std::memory_order_acquire))
        return "a depth frame came before the camera info";
    if (width != cameraModel.width || height != cameraModel.height)
        return "a depth frame of " + std::to_string(width) + " x " + std::to_string(height) + " pixels for a camera of "
            + std::to_string(cameraModel.width) + " x " + std::to_string(cameraModel.height);
    const std::size_t pixels = std::size_t(width) * height;
    const DepthCorrection current = depthCorrection();
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        depthToPoints(depthMm, rays.data(), pixels, pointStorage.get(), kLiveCameraPoints);
        current.removeFrom(pointStorage.get(), pixels);
        stamp.store(stampSeconds, std::memory_order_release);
    }
    {
        std::lock_guard<std::mutex> lock(correctionMutex);
        removed = current;
    }
    publishedPoints.store(pointStorage.get(), std::memory_order_release);
    frames.fetch_add(1);
    lastFrameAt.store(steadySeconds());
    return {};
}

DepthCorrection NetworkCamera::depthCorrection() const
{
    std::lock_guard<std::mutex> lock(correctionMutex);
    return correction;
}

void NetworkCamera::setDepthCorrection(const DepthCorrection& c)
{
    std::lock_guard<std::mutex> lock(correctionMutex);
    correction = c;
}

DepthCorrection NetworkCamera::removedDepthCorrection() const
{
    std::lock_guard<std::mutex> lock(correctionMutex);
    return removed;
}

} // namespace tavorin
