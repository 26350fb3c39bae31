#pragma once

#include "math/DepthCorrection.h"
#include "math/Mat4.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tavorin {

// One camera's frame as the rest of the system sees it. A record borrows its buffers: they belong
// to the capture thread or recording reader that fills them, keep their address for that
// object's life and are overwritten in place with every new frame. Copies borrow the same buffers.
//
// The fourth float of a point carries no meaning that a reader may use: nothing reads it, the
// point cloud shader takes x, y, z and supplies w = 1 itself. What each source leaves there:
// live cameras 0 for every pixel; recordings with a raw calibration 1 where the pixel has a
// point and, elsewhere, whatever the buffer held (0 from its allocation); recordings without one
// the buffer's 0. A pixel without depth is told by x, y, z alone: (0, 0, 0), or NaN from the
// pinhole model.
struct DepthCameraData {
    DepthCameraData(); // takes the next value of the process-wide id counter

    std::int32_t id;
    Mat4 modelMatrix;           // camera point coordinates -> room coordinates
    std::string sourceName;     // device serial number, or the recording path as passed in
    std::string configPath;     // relative path of the camera's configuration file; empty: none
    // The ROS frame_id the camera's images carry (network cameras, recordings made from them);
    // empty where they carry none.
    std::string frameId;
    float* points = nullptr;    // width * height * 4 floats (x, y, z in metres, camera frame; 4th)
    std::uint8_t* colors = nullptr; // width * height * 4 bytes, one colour per pixel
    bool hasPointCloud = false;
    bool hasColor = false;
    std::int32_t width = 0;
    std::int32_t height = 0;
    // The camera's depth correction: the sensor's error that its source removes from the points
    // it makes (identity: none), stored beside its configuration file.
    DepthCorrection depthCorrection;
    // The correction removed from these points: the camera's, unless it changed since they were made.
    DepthCorrection removedDepthCorrection;
    // Seconds: when the depth image was captured, on the device's clock for a live camera and on
    // the recording's clock on playback; empty where the source does not know it.
    std::optional<double> timestamp;
};

} // namespace tavorin
