// The virtual devices that our layer enumerates, in plug-in order.
#include <k4a_virtual/VirtualDevice.h>

#include "device_handles.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace k4a_virtual {
namespace {

// Made at first use: the live source may enumerate during static initialisation.
struct Registry {
    std::mutex mutex;
    std::vector<std::shared_ptr<VirtualDevice>> plugged; // guarded by mutex
};

// The devices of TAVORIN_VIRTUAL_CAMERAS are plugged in from the start.
Registry& registry()
{
    static Registry instance{{}, k4a_layer::environmentCameras()};
    return instance;
}

} // namespace

k4a_calibration_camera_t defaultColorCamera()
{
    constexpr int kWidth = 1280;
    constexpr int kHeight = 720;
    constexpr float kFocalPx = 605.0f; // about 93 degrees horizontal field of view
    constexpr float kMetricRadius = 1.7f;
    k4a_calibration_camera_t camera{};
    camera.resolution_width = kWidth;
    camera.resolution_height = kHeight;
    camera.metric_radius = kMetricRadius;
    camera.intrinsics.type = K4A_CALIBRATION_LENS_DISTORTION_MODEL_BROWN_CONRADY;
    camera.intrinsics.parameter_count = 14;
    auto& p = camera.intrinsics.parameters.param;
    p.cx = (kWidth - 1) / 2.0f;
    p.cy = (kHeight - 1) / 2.0f;
    p.fx = kFocalPx;
    p.fy = kFocalPx;
    p.metric_radius = kMetricRadius;
    camera.extrinsics = defaultDepthToColor();
    return camera;
}

k4a_calibration_extrinsics_t defaultDepthToColor()
{
    constexpr float kTiltRad = 6.0f * 3.14159265f / 180.0f;
    constexpr float kBaselineMm = 32.0f;
    const float c = std::cos(kTiltRad);
    const float s = std::sin(kTiltRad);
    k4a_calibration_extrinsics_t extrinsics{};
    const float rotation[9] = {1.0f, 0.0f, 0.0f, 0.0f, c, -s, 0.0f, s, c};
    std::copy(rotation, rotation + 9, extrinsics.rotation);
    extrinsics.translation[0] = -kBaselineMm;
    return extrinsics;
}

VirtualDevice::VirtualDevice(std::string serialNumber_, std::string rawCalibration_,
                             std::shared_ptr<FrameSource> frames_)
    : serialNumber(std::move(serialNumber_)),
      rawCalibration(std::move(rawCalibration_)),
      frames(std::move(frames_)),
      colorCamera(defaultColorCamera()),
      depthToColor(defaultDepthToColor())
{
}

void plugIn(const std::shared_ptr<VirtualDevice>& device)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (device && std::find(r.plugged.begin(), r.plugged.end(), device) == r.plugged.end())
        r.plugged.push_back(device);
}

void unplug(const std::shared_ptr<VirtualDevice>& device)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.plugged.erase(std::remove(r.plugged.begin(), r.plugged.end(), device), r.plugged.end());
}

void unplugAll()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.plugged.clear();
}

} // namespace k4a_virtual

namespace k4a_layer {

bool isPlugged(const k4a_virtual::VirtualDevice& device)
{
    k4a_virtual::Registry& r = k4a_virtual::registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return std::any_of(r.plugged.begin(), r.plugged.end(),
                       [&device](const auto& entry) { return entry.get() == &device; });
}

std::uint32_t pluggedCount()
{
    k4a_virtual::Registry& r = k4a_virtual::registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return static_cast<std::uint32_t>(r.plugged.size());
}

std::shared_ptr<k4a_virtual::VirtualDevice> pluggedDevice(std::uint32_t index)
{
    k4a_virtual::Registry& r = k4a_virtual::registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return index < r.plugged.size() ? r.plugged[index] : nullptr;
}

} // namespace k4a_layer
