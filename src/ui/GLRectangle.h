#pragma once

#include <QQuickItem>

#include <atomic>

namespace tavorin {

class GLRectangleRenderer;

// The QML item that puts the 3D scene into the window. Lives on the GUI thread and owns no GL
// state; its renderer is created and destroyed on the render thread.
class GLRectangle : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(double time READ time WRITE setTime NOTIFY timeChanged)
public:
    // Width of the settings bar laid over the right edge; the 3D viewport is the rest.
    static constexpr int kSettingsBarWidth = 320;

    GLRectangle();

    double time() const { return timeValue; }
    void setTime(double t);
    // Asks the window for one more frame: the view changed while no animation runs.
    Q_INVOKABLE void redraw();

signals:
    void timeChanged();

public slots:
    void sync();
    void cleanup();

private slots:
    void handleWindowChanged(QQuickWindow* window);

private:
    void releaseResources() override;

    double timeValue = 0.0;
    // Written by sync() and cleanup() on the render thread and by releaseResources() on the GUI
    // thread; whichever takes it out deletes it.
    std::atomic<GLRectangleRenderer*> renderer{nullptr};
};

} // namespace tavorin
