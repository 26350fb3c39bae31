#include "network/ros/NetworkCamera.h"

#include "acquisition/config/CameraConfigFiles.h"
#include "acquisition/config/DepthCorrectionFile.h"
#include "acquisition/model/DepthToPoints.h"

#include <algorithm>
#include <chrono>

namespace tavorin {

namespace {

constexpr std::uint32_t kMaxImageSide = 4096;
// A second at 30 fps (22 MB of a 640 x 576 camera): how far the frames of cameras on different
// computers may lag behind one another and still be shown at one instant.
constexpr std::size_t kRecentFrames = 30;
constexpr double kSameInstantSeconds = 0.001;

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

NetworkCamera::NetworkCamera(std::string nameSpace_)
    : nameSpace(std::move(nameSpace_)), configFile(networkCameraConfigPath(nameSpace))
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
                                     double stampSeconds, const std::string& frameId)
{
    if (!modelReady.load(std::memory_order_acquire))
        return "a depth frame came before the camera info";
    if (width != cameraModel.width || height != cameraModel.height)
        return "a depth frame of " + std::to_string(width) + " x " + std::to_string(height) + " pixels for a camera of "
            + std::to_string(cameraModel.width) + " x " + std::to_string(cameraModel.height);
    if (recent.empty())
        recent.resize(kRecentFrames);
    // The slot of the oldest frame takes the new one.
    RecentFrame& slot = *std::min_element(recent.begin(), recent.end(), [](const RecentFrame& a, const RecentFrame& b) {
        return a.sequence < b.sequence;
    });
    slot.depthMm.assign(depthMm, depthMm + std::size_t(width) * height);
    slot.stamp = stampSeconds;
    slot.sequence = ++takenSequence;
    {
        std::lock_guard<std::mutex> lock(frameIdMutex);
        imageFrameId = frameId;
    }
    frames.fetch_add(1);
    lastFrameAt.store(steadySeconds());
    return {};
}

std::optional<double> NetworkCamera::newestStamp() const
{
    std::optional<double> newest;
    std::uint64_t sequence = 0;
    for (const RecentFrame& frame : recent)
        if (frame.sequence > sequence) {
            sequence = frame.sequence;
            newest = frame.stamp;
        }
    return newest;
}

std::optional<double> NetworkCamera::oldestStamp() const
{
    std::optional<double> oldest;
    for (const RecentFrame& frame : recent)
        if (frame.sequence != 0 && (!oldest || frame.stamp < *oldest))
            oldest = frame.stamp;
    return oldest;
}

void NetworkCamera::showAt(double instant)
{
    const RecentFrame* chosen = nullptr;
    const RecentFrame* oldest = nullptr;
    for (const RecentFrame& frame : recent) {
        if (frame.sequence == 0)
            continue;
        if (!oldest || frame.stamp < oldest->stamp)
            oldest = &frame;
        if (frame.stamp <= instant + kSameInstantSeconds && (!chosen || frame.stamp > chosen->stamp))
            chosen = &frame;
    }
    if (!chosen)
        chosen = oldest;
    if (!chosen || chosen->sequence == shownSequence)
        return;
    const std::size_t pixels = chosen->depthMm.size();
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        depthToPoints(chosen->depthMm.data(), rays.data(), pixels, pointStorage.get(), kLiveCameraPoints);
        // Under the frame lock, so that a held frame and the correction taken out of it agree.
        corrections.removeFrom(pointStorage.get(), pixels);
        stamp.store(chosen->stamp, std::memory_order_release);
    }
    shownSequence = chosen->sequence;
    publishedPoints.store(pointStorage.get(), std::memory_order_release);
}

std::string NetworkCamera::frameId() const
{
    std::lock_guard<std::mutex> lock(frameIdMutex);
    return imageFrameId;
}

} // namespace tavorin
