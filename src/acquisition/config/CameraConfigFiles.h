#pragma once

#include "math/Mat4.h"

#include <string>

namespace tavorin {

struct SceneState;

// The per-camera configuration files: one JSON object whose "modelMatrix" holds the camera's 16
// matrix floats in storage order (column-major, metres). Paths are relative to the working
// directory; directories are never created.

// The serial with every character other than an ASCII letter, a digit, '-' or '_' replaced by '_',
// so that it names a file inside a folder.
std::string pathSafeSerial(const std::string& serial);

// "config/cameras/azure/azure_kinect_<serial>.json", with every character of the serial other
// than an ASCII letter, a digit, '-' or '_' replaced by '_', so that the file stays in that folder.
std::string liveCameraConfigPath(const std::string& serial);

// A file beside a model-matrix file: "<stem><suffix>" for "<stem>.json" (the whole path as the
// stem when it does not end in ".json"); empty for an empty path.
std::string besideModelMatrix(const std::string& modelMatrixPath, const std::string& suffix);

// "config/cameras/ros/<namespace>.json", the ROS namespace made safe as serials are.
std::string networkCameraConfigPath(const std::string& nameSpace);

// Derives the file of a recording from its path (forward slashes) and prints the
// "Filename Serial: ..." line; a path without "/" has no file: returns empty, prints nothing.
std::string recordingConfigPath(const std::string& recordingPath);

// Replaces `matrix` when the file holds a usable "modelMatrix" (16 numbers, finite as floats, not
// singular) and returns true. Otherwise `matrix` stays as it is and the answer is false: a missing
// file is noted on standard output ("No camera configuration at <path> yet"), any other reason
// goes to standard error as "Ignoring camera configuration <path>: <reason>".
bool loadModelMatrix(const std::string& path, Mat4& matrix);

// Writes the file atomically (a temporary file beside it, flushed to the disk, then renamed over
// it) and prints "Stored Depth Camera Configuration to <path>". A file that already holds exactly
// this text is not rewritten (the line then ends in " (unchanged, not rewritten)"). Other content
// is first kept beside it as "<path>.<YYYYMMDD>_<HHMMSS>.bak" ("Kept the previous <path> as
// <copy>"); the newest five copies of a file stay. A failure, or a matrix that the reader would
// refuse, is reported on standard error instead and returns false; the previous file is then left
// as it was and no temporary file remains.
bool writeModelMatrix(const std::string& path, const Mat4& matrix);

// Replaces the file at `path` by `text` as writeModelMatrix does (atomically, the earlier content
// kept as a dated copy, an unchanged file left alone), with "<storedLine><path>" on standard output
// and "Unable to write <what> <path>: <reason>" on standard error.
bool replaceKeptFile(const std::string& path, const std::string& text, const std::string& what,
                     const std::string& storedLine);

// Writes the file of every camera record that has a configuration path, in list order, and beside
// it the depth correction file of a camera that has a correction (or had one) and the tf frames
// file of a camera whose images carry a frame id (CameraTfFile). Returns false when any file
// failed. GUI thread, with the scene's frame lock held.
bool storeCalibrations(const SceneState& state);

} // namespace tavorin
