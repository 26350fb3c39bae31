#pragma once

#include "math/Mat4.h"

#include <string>

struct SceneState;

// The per-camera configuration files: one JSON object whose "modelMatrix" holds the camera's 16
// matrix floats in storage order (column-major, metres). Paths are relative to the working
// directory; directories are never created.

// "config/cameras/azure/azure_kinect_<serial>.json".
std::string liveCameraConfigPath(const std::string& serial);

// Derives the file of a recording from its path (forward slashes) and prints the
// "Filename Serial: ..." line; a path without "/" has no file: returns empty, prints nothing.
std::string recordingConfigPath(const std::string& recordingPath);

// Replaces `matrix` when the file holds a valid "modelMatrix" and returns true; a missing file or
// member leaves it unchanged silently, a file that is not JSON or holds non-numbers is reported
// on standard error and leaves it unchanged too.
bool loadModelMatrix(const std::string& path, Mat4& matrix);

// Writes the file atomically (temporary file beside it, then rename) and prints
// "Stored Depth Camera Configuration to <path>"; a failure is reported on standard error instead
// and returns false.
bool writeModelMatrix(const std::string& path, const Mat4& matrix);

// Writes the file of every camera record that has a configuration path, in list order. Returns
// false when any file failed. GUI thread, with the scene's frame lock held.
bool storeCalibrations(const SceneState& state);
