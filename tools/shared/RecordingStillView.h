#pragma once

#include "calibration/drift/DepthStack.h"

#include <cstdint>
#include <optional>

namespace tavorin {
class HDF5RecordingReader;
} // namespace tavorin

// Up to `count` frames of the recording in a stack: its last `count` frames (the camera as it now
// stands), or, spread, frames taken evenly over its whole length (a calibration recording, through which the plate and its
// carrier moved). Nothing when a frame cannot be loaded (the reader said why). Loads frames: the
// thread that plays the reader, or none.
std::optional<tavorin::DepthStack> lastFrames(tavorin::HDF5RecordingReader& reader, std::uint32_t count);
std::optional<tavorin::DepthStack> spreadFrames(tavorin::HDF5RecordingReader& reader, std::uint32_t count);
