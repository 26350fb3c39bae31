#pragma once

namespace tavorin {

// The data sets of a recording file, as the reader, the recorder and the sample generator name
// them.
namespace recording {
constexpr char kDepthSet[] = "/depth_measure_z_0";               // uint16 mm, rows x columns x frames
constexpr char kColourSet[] = "/color_measure_0";                // B, G, R, A bytes per pixel and frame
constexpr char kParameterSet[] = "/camera_parameters_0";         // 14 floats per frame
constexpr char kRawCalibrationSet[] = "/raw_azure_calibration_0"; // the device's calibration blob
constexpr char kTimestampSet[] = "/timestampsBK_0";              // seconds per frame
// A network camera's ROS namespace and the frame_id of its images, NUL-terminated text; only in
// recordings made from the network.
constexpr char kRosNamespaceSet[] = "/ros_namespace_0";
constexpr char kRosFrameIdSet[] = "/ros_frame_id_0";
} // namespace recording

} // namespace tavorin
