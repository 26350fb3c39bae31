#include "app/StillViewCheck.h"

#include "acquisition/config/StillViewReference.h"

namespace tavorin {

CameraStillView cameraStillView(const DepthStack& stack)
{
    return {{stack.width(), stack.height(), stack.stillDepthMm()}, stack.rays(), stack.frames()};
}

StillViewCheck checkAgainstStoredReference(const std::string& configPath, const CameraStillView& current,
                                           const DriftLimits& limits)
{
    StillViewCheck check;
    const std::string path = stillViewReferencePath(configPath);
    StillViewReference reference;
    std::string why;
    const ReferenceRead read = path.empty() ? ReferenceRead::Missing
                                            : loadStillViewReference(path, current.view.width, current.view.height,
                                                                     reference, why);
    if (read == ReferenceRead::Missing) {
        check.estimate.why = "no reference of its still view is stored with its calibration ("
            + (path.empty() ? std::string("it has no configuration file") : path)
            + "); calibrate it with tavorin-calibrate --store or save its registration";
        return check;
    }
    check.hasReference = true;
    if (read == ReferenceRead::Refused) {
        check.estimate.why = "its reference " + path + " is refused: " + why;
        return check;
    }
    return checkAgainstReference(reference, current, limits);
}

StillViewCheck checkAgainstReference(const StillViewReference& reference, const CameraStillView& current,
                                     const DriftLimits& limits)
{
    StillViewCheck check;
    check.hasReference = true;
    check.storedAt = reference.storedAt;
    const StillView referenceView{reference.width, reference.height, reference.depthMm};
    check.estimate = estimateDrift(referenceView, current.view, current.rays);
    check.verdict = driftVerdict(check.estimate, limits);
    return check;
}

StillViewReference referenceOf(const CameraStillView& still, const DepthCorrection& correction)
{
    StillViewReference reference;
    reference.width = still.view.width;
    reference.height = still.view.height;
    reference.depthMm = still.view.depthMm;
    reference.storedAt = referenceDate();
    reference.depthCorrection = correction;
    reference.frames = still.frames;
    return reference;
}

bool storeStillView(const std::string& configPath, const CameraStillView& still, const DepthCorrection& correction)
{
    return writeStillViewReference(stillViewReferencePath(configPath), referenceOf(still, correction));
}

} // namespace tavorin
