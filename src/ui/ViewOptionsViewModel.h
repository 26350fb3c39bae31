#pragma once

#include "app/CameraViewOptions.h"
#include "ui/AtomicProperty.h"

#include <QObject>
#include <QVariantList>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tavorin {

// View model of the list of cameras (qml/CameraList.qml): one row per camera record of the scene,
// its colour, index and name and whether its cloud is shown, and whether the clouds are coloured
// by camera. The GUI thread writes the options; the render thread reads them every frame (atomics)
// and hands over the records' names (behind a lock, the change signalled on the GUI thread).
// A camera's visibility follows its name when the records change: a hidden camera stays hidden
// while it is there, wherever it now stands in the list; a new camera is shown.
class ViewOptionsViewModel : public QObject, public CameraViewOptions {
    Q_OBJECT
    Q_PROPERTY(bool colorByCamera READ colorByCamera WRITE setColorByCamera NOTIFY colorByCameraChanged)
    // One map per camera, in record order: "label" ("<index>  <name>"), "color" and "shown".
    Q_PROPERTY(QVariantList cameras READ cameras NOTIFY camerasChanged)
public:
    // Cameras beyond this index are always shown.
    static constexpr std::size_t kMaxHideable = 64;

    explicit ViewOptionsViewModel(QObject* parent = nullptr);
    ~ViewOptionsViewModel() override;

    bool colorByCamera() const override { return colorByCameraValue.get(); }
    bool cameraShown(std::size_t index) const override;
    void setCameraNames(const std::vector<std::string>& names) override;

    void setColorByCamera(bool value) { colorByCameraValue.set(*this, value); }
    // GUI thread; an index outside the list changes nothing.
    Q_INVOKABLE void setCameraShown(int index, bool shown);
    QVariantList cameras() const;

signals:
    void colorByCameraChanged(bool value);
    void camerasChanged();

private:
    void signalCamerasChanged();

    AtomicProperty<ViewOptionsViewModel, bool> colorByCameraValue{false, &ViewOptionsViewModel::colorByCameraChanged};
    std::atomic<std::uint64_t> hiddenMask{0}; // bit i: camera i's cloud hidden; written under namesMutex
    mutable std::mutex namesMutex;
    std::vector<std::string> cameraNames; // guarded by namesMutex
};

} // namespace tavorin
