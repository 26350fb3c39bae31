#pragma once

#include "base/Processor.h"
#include "math/Mat4.h"

#include <string>

namespace tavorin {

// The depth source: asked once per rendered frame (render thread) to refill the state's camera
// records. Destroying a source stops its capture or playback threads before its buffers go.
class DepthCameraProcessor : public Processor {
public:
    virtual ~DepthCameraProcessor() = default;

    // Gives the first camera whose name matches byte for byte a new model matrix; no match: nothing.
    virtual void setModelMatrix(std::string name, const Mat4& matrix) = 0;
};

} // namespace tavorin
