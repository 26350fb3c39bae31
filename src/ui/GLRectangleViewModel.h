#pragma once

#include <QObject>

namespace tavorin {

class Scene;

// Pointer input of the 3D viewport (GUI thread). Coordinates are pixels from the viewport's
// top-left corner, y down.
class GLRectangleViewModel : public QObject {
    Q_OBJECT
public:
    explicit GLRectangleViewModel(QObject* parent = nullptr);

    void attachScene(Scene* scene) { this->scene = scene; }

    Q_INVOKABLE void onPressed(int x, int y);
    Q_INVOKABLE void onPositionChanged(int x, int y);
    Q_INVOKABLE void onReleased(int x, int y);
    Q_INVOKABLE void onWheel(double delta);

private:
    int pressX = -1;
    int pressY = -1;
    Scene* scene = nullptr; // non-owning
};

} // namespace tavorin
