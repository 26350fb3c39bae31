#pragma once

#include <QObject>

namespace tavorin {

class Scene;

// Pointer and key input of the 3D viewport, and what the view shows (GUI thread). Coordinates are
// pixels from the viewport's top-left corner, y down. Left drags turn the view, right and middle
// drags pan it; a left click picks the cursor point.
class GLRectangleViewModel : public QObject {
    Q_OBJECT
    // Cameras whose points the view shows; -1 until the first frame has been drawn.
    Q_PROPERTY(int cameraCount READ cameraCount NOTIFY cameraCountChanged)
    // Whether the view needs a frame after every frame: cameras stream, registration runs, the
    // light display blinks, or the scene has just changed. When false it redraws on input only.
    Q_PROPERTY(bool animating READ animating NOTIFY animatingChanged)
public:
    explicit GLRectangleViewModel(QObject* parent = nullptr);

    // Also has the scene report, from the render thread, each change of what the view shows; the
    // scene must not draw a frame after this view model is gone.
    void attachScene(Scene* scene);

    int cameraCount() const { return cameraCountValue; }
    bool animating() const { return animatingValue; }

    // button: Qt::MouseButton of the press.
    Q_INVOKABLE void onPressed(int x, int y, int button = Qt::LeftButton);
    Q_INVOKABLE void onPositionChanged(int x, int y);
    Q_INVOKABLE void onReleased(int x, int y);
    // angleDelta.y of a wheel event: 120 per notch, positive when turned away from the user.
    Q_INVOKABLE void onWheel(double delta);
    // The view around all clouds, the start view, the orbit around the 3D cursor.
    Q_INVOKABLE void frameAll();
    Q_INVOKABLE void resetView();
    Q_INVOKABLE void centreOnCursor();
    // Every signal of source asks for a redraw: the settings bar's changes show in the view.
    Q_INVOKABLE void redrawOnChangesOf(QObject* source);

signals:
    void cameraCountChanged(int value);
    void animatingChanged(bool value);
    // The view changed while no animation may be running: the item should draw a frame.
    void redrawRequested();

private slots:
    void requestRedraw();

private:
    void setActivity(int cameras, bool needsFrames);

    int pressX = -1;
    int pressY = -1;
    int pressButton = Qt::LeftButton; // a release without a press counts as the left button's
    int cameraCountValue = -1;
    bool animatingValue = true;
    Scene* scene = nullptr; // non-owning
};

} // namespace tavorin
