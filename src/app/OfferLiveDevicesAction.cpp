#include "app/OfferLiveDevicesAction.h"

#include "acquisition/live/AzureKinectCameraProcessor.h"
#include "acquisition/live/AzureKinectReadingThread.h"
#include "acquisition/live/LiveRecording.h"

namespace tavorin {

void OfferLiveDevicesAction::execute(SceneState&, std::shared_ptr<DepthCameraProcessor>& depthSource)
{
    std::vector<std::shared_ptr<AzureKinectReadingThread>> streaming;
    if (const auto* live = dynamic_cast<const AzureKinectCameraProcessor*>(depthSource.get()))
        for (const std::shared_ptr<AzureKinectReadingThread>& thread : live->threads)
            if (thread->points() && !thread->isStopRequested())
                streaming.push_back(thread);
    recording.offerDevices(std::move(streaming));
}

} // namespace tavorin
