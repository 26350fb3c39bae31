#include "acquisition/config/DepthCorrectionInUse.h"

namespace tavorin {

DepthCorrection DepthCorrectionInUse::wanted() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return wantedCorrection;
}

DepthCorrection DepthCorrectionInUse::removed() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return removedCorrection;
}

void DepthCorrectionInUse::removeFrom(float* points, std::size_t count)
{
    const DepthCorrection current = wanted();
    current.removeFrom(points, count);
    std::lock_guard<std::mutex> lock(mutex);
    removedCorrection = current;
}

void DepthCorrectionInUse::setWanted(const DepthCorrection& correction)
{
    std::lock_guard<std::mutex> lock(mutex);
    wantedCorrection = correction;
}

} // namespace tavorin
