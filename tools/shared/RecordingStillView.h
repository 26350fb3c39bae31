#pragma once

#include "calibration/drift/DepthStack.h"
#include "math/DepthCorrection.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tavorin {
class HDF5RecordingReader;
} // namespace tavorin

// Up to `count` frames of the recording in a stack: its last `count` frames (the camera as it now
// stands), or, spread, frames taken evenly over its whole length (a calibration recording, through which the plate and its
// carrier moved). Nothing when a frame cannot be loaded (the reader said why). Loads frames: the
// thread that plays the reader, or none.
std::optional<tavorin::DepthStack> lastFrames(tavorin::HDF5RecordingReader& reader, std::uint32_t count);
std::optional<tavorin::DepthStack> spreadFrames(tavorin::HDF5RecordingReader& reader, std::uint32_t count);

// Stores the stack's still view as the reference beside the camera's matrix file `configPath`,
// dated today, with the depth correction stored with its matrix. False (said on standard error)
// when it cannot.
bool storeStillView(const std::string& configPath, const tavorin::DepthStack& stack,
                    const tavorin::DepthCorrection& correction);
