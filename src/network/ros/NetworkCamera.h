#pragma once

#include "acquisition/config/DepthCorrectionInUse.h"
#include "math/Mat4.h"
#include "network/ros/CameraInfoModel.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavorin {

// One camera of the network depth source, named by its ROS namespace: its model from CameraInfo,
// its recent depth frames, the one shown as points (metres, camera frame, as a live camera's) with
// its capture time, the frame_id its images carry, its matrix and depth correction from its
// configuration files. The receive thread fills it; the
// render thread reads it through the source's records (holding its frame while a calibration
// cycle reads it). Buffers keep their address for the camera's life: a camera whose image size
// changes is dropped and made anew by the source.
class NetworkCamera {
public:
    explicit NetworkCamera(std::string nameSpace);

    const std::string& name() const { return nameSpace; }
    // "config/cameras/ros/<namespace>.json", the namespace made safe as serials are.
    const std::string& configPath() const { return configFile; }

    // Receive thread. Empty when taken; else why the model or the frame is refused.
    std::string takeCameraInfo(const CameraInfoFields& info);
    // A frame needs a camera model first; one of another size than the model is refused. A frame
    // taken joins the camera's recent frames; show() makes the points of one of them. `frameId`:
    // the header's frame_id, the frame the camera's transform names.
    std::string takeDepth(const std::uint16_t* depthMm, std::uint32_t width, std::uint32_t height, double stampSeconds,
                          const std::string& frameId);
    // Receive thread: the capture times of the newest and the oldest recent frame (none: no frame yet).
    std::optional<double> newestStamp() const;
    std::optional<double> oldestStamp() const;
    // Receive thread: shows the newest recent frame captured by `instant` (within a millisecond),
    // or the oldest one when all came later; its points are made once, when it is first shown.
    void showAt(double instant);
    bool hasModel() const { return modelReady.load(std::memory_order_acquire); }
    // The model taken last. Receive thread.
    const CameraInfoFields& model() const { return cameraModel; }
    std::uint32_t width() const { return imageWidth.load(); }
    std::uint32_t height() const { return imageHeight.load(); }
    // The frame_id of the depth image taken last (empty before the first). Any thread.
    std::string frameId() const;

    // Null until the first frame; width * height * 4 floats, fixed address.
    float* points() const { return publishedPoints.load(std::memory_order_acquire); }
    double captureSeconds() const { return stamp.load(std::memory_order_acquire); }
    std::uint64_t framesTaken() const { return frames.load(); }
    // The steady clock's seconds at the last frame taken (for telling a camera that went quiet).
    double lastFrameSteadySeconds() const { return lastFrameAt.load(); }

    // Render thread (or the GUI thread under the scene's frame lock).
    Mat4 modelMatrix;
    DepthCorrection depthCorrection() const { return corrections.wanted(); }
    void setDepthCorrection(const DepthCorrection& correction) { corrections.setWanted(correction); }
    DepthCorrection removedDepthCorrection() const { return corrections.removed(); }
    // Keeps the receive thread from overwriting the points until the lock goes.
    std::unique_lock<std::mutex> holdFrame() { return std::unique_lock<std::mutex>(frameMutex); }

private:
    std::string nameSpace;
    std::string configFile;
    CameraInfoFields cameraModel;    // receive thread
    std::vector<float> rays;         // receive thread: per pixel (x, y) of its unit-depth ray
    std::atomic<bool> modelReady{false};
    std::atomic<std::uint32_t> imageWidth{0};
    std::atomic<std::uint32_t> imageHeight{0};
    // The recent frames, a ring: depths of width * height, capture times, and their order.
    struct RecentFrame {
        std::vector<std::uint16_t> depthMm;
        double stamp = 0.0;
        std::uint64_t sequence = 0; // 0: empty
    };
    std::vector<RecentFrame> recent;       // receive thread
    std::uint64_t takenSequence = 0;       // receive thread
    std::uint64_t shownSequence = 0;       // receive thread
    std::unique_ptr<float[]> pointStorage;
    std::atomic<float*> publishedPoints{nullptr};
    std::atomic<double> stamp{0.0};
    std::atomic<std::uint64_t> frames{0};
    std::atomic<double> lastFrameAt{0.0};
    std::mutex frameMutex; // held while a frame is written into the points
    DepthCorrectionInUse corrections;
    mutable std::mutex frameIdMutex;
    std::string imageFrameId; // guarded by frameIdMutex
};

} // namespace tavorin
