#pragma once

#include "math/DepthCorrection.h"

#include <cstddef>
#include <mutex>

namespace tavorin {

// A source camera's depth correction as its threads share it: the one to remove from the points it
// makes next (set from any thread, usually the render thread after a calibration) and the one
// removed from the points it published last, which an estimate puts back to see what the sensor
// measured. Each is read and written whole under the object's lock; any thread.
class DepthCorrectionInUse {
public:
    DepthCorrection wanted() const;
    DepthCorrection removed() const;
    void setWanted(const DepthCorrection& correction);

    // Removes the wanted correction from `count` points (x, y, z, w; metres) and notes it as the
    // one removed; the thread that fills the points, while it holds them.
    void removeFrom(float* points, std::size_t count);

private:
    mutable std::mutex mutex;
    DepthCorrection wantedCorrection;  // guarded by mutex
    DepthCorrection removedCorrection; // guarded by mutex
};

} // namespace tavorin
