#pragma once

#include "scene/DepthCameraData.h"

namespace tavorin {

class HDF5RecordingReader;

// The camera record of the frame a reader has loaded, as a recording source hands it to the scene:
// its points and colours (the reader's buffers, not copied), model matrix, depth corrections,
// names, size and capture time. The thread that may read the reader's buffers.
DepthCameraData cameraRecordOf(HDF5RecordingReader& reader);

} // namespace tavorin
