#include "ui/RecordViewModel.h"

#include "acquisition/live/RecordingSession.h"
#include "app/OfferLiveDevicesAction.h"
#include "app/Scene.h"

namespace tavorin {

QString RecordViewModel::elapsed() const
{
    constexpr int kSecondsPerMinute = 60;
    const int seconds = static_cast<int>(liveRecording.elapsedSeconds());
    return QString("%1:%2").arg(seconds / kSecondsPerMinute).arg(seconds % kSecondsPerMinute, 2, 10, QChar('0'));
}

void RecordViewModel::toggle()
{
    if (liveRecording.isRecording())
        liveRecording.stop();
    else
        liveRecording.start(RecordingSession::timestampedFolder());
    emit changed();
}

void RecordViewModel::refresh()
{
    liveRecording.poll();
    if (scene)
        scene->sceneState().enqueue(std::make_shared<OfferLiveDevicesAction>(liveRecording));
    emit changed();
}

} // namespace tavorin
