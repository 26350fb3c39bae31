#pragma once

#include "acquisition/live/LiveRecording.h"

#include <QObject>
#include <QString>

namespace tavorin {

class Scene;

// View model of the Record toggle: records the live cameras into recordings/<date>_<time>/. GUI
// thread; refresh(), which the panel calls a few times a second, asks the render thread for the
// live cameras and updates the properties.
class RecordViewModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool available READ available NOTIFY changed)
    Q_PROPERTY(bool recording READ recording NOTIFY changed)
    Q_PROPERTY(QString elapsed READ elapsed NOTIFY changed)
    Q_PROPERTY(qint64 framesWritten READ framesWritten NOTIFY changed)
    Q_PROPERTY(QString folder READ folder NOTIFY changed)
public:
    explicit RecordViewModel(QObject* parent = nullptr) : QObject(parent) {}

    // Non-owning link to the scene whose live cameras are recorded; null for instances QML creates.
    void attachScene(Scene* scene_) { scene = scene_; }

    bool available() const { return recording() || liveRecording.liveCameraCount() > 0; }
    bool recording() const { return liveRecording.isRecording(); }
    QString elapsed() const; // "m:ss"
    qint64 framesWritten() const { return static_cast<qint64>(liveRecording.framesWritten()); }
    QString folder() const { return QString::fromStdString(liveRecording.folder()); }

    // Starts or ends the recording.
    Q_INVOKABLE void toggle();
    Q_INVOKABLE void refresh();

signals:
    void changed();

private:
    Scene* scene = nullptr;
    LiveRecording liveRecording;
};

} // namespace tavorin
