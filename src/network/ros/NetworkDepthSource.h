#pragma once

#include "network/ros/CameraInfoModel.h"
#include "scene/DepthCameraProcessor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tavorin {

// The depth source of cameras on other computers: every ROS namespace that publishes a depth
// image ("rt/<namespace>/depth/image_raw", 16UC1 millimetres, or its "/compressedDepth" RVL or
// PNG, taken when offered) together with its camera info ("rt/<namespace>/depth/camera_info") is
// one camera, streamed as a live one is: its cloud, its matrix and depth correction from
// "config/cameras/ros/<namespace>.json", its capture times and frame id from the images' headers. A
// camera is announced when it appears and when it goes (its writers gone, or no frame for 3 s);
// one that returns streams again. A malformed message is refused with one line (then counted) and
// the other cameras go on. One receive thread of its own takes every message; the render thread
// calls process() and the pace calls.
class NetworkDepthSource : public DepthCameraProcessor {
public:
    // Every frame taken, on the receive thread: the camera's namespace and model, its depth
    // (millimetres, width * height, row by row), its header stamp in seconds and frame_id.
    using FrameListener =
        std::function<void(const std::string& nameSpace, const CameraInfoFields& model, const std::uint16_t* depthMm,
                            double stampSeconds, const std::string& frameId)>;

    // Joins the ROS domain and starts listening. `listener` (may be empty) sees every frame.
    explicit NetworkDepthSource(FrameListener listener = {});
    ~NetworkDepthSource() override;

    void process(SceneState& state) override;
    void setModelMatrix(std::string name, const Mat4& matrix) override;
    void setDepthCorrection(std::string name, const DepthCorrection& correction) override;
    void holdFrames(SceneState& state) override;
    void releaseFrames() override;
    std::string syncMode() const override;

    // The namespaces of the cameras streaming now. Any thread.
    std::vector<std::string> cameraNames() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace tavorin
