#pragma once

#include "math/Mat4.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tavorin {

// One camera's frame as the rest of the system sees it. A record borrows its buffers: they belong
// to the capture thread or recording reader that fills them, keep their address for that
// object's life and are overwritten in place with every new frame. Copies borrow the same buffers.
struct DepthCameraData {
    DepthCameraData(); // takes the next value of the process-wide id counter

    std::int32_t id;
    Mat4 modelMatrix;           // camera point coordinates -> room coordinates
    std::string sourceName;     // device serial number, or the recording path as passed in
    std::string configPath;     // relative path of the camera's configuration file; empty: none
    float* points = nullptr;    // width * height * 4 floats (x, y, z in metres, camera frame; 4th)
    std::uint8_t* colors = nullptr; // width * height * 4 bytes, one colour per pixel
    bool hasPointCloud = false;
    bool hasColor = false;
    std::int32_t width = 0;
    std::int32_t height = 0;
    // Seconds: when the depth image was captured, on the device's clock for a live camera and on
    // the recording's clock on playback; empty where the source does not know it.
    std::optional<double> timestamp;
};

} // namespace tavorin
