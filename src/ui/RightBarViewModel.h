#pragma once

#include <QObject>

class Scene;

// View model of the settings bar (GUI thread).
class RightBarViewModel : public QObject {
    Q_OBJECT
public:
    explicit RightBarViewModel(QObject* parent = nullptr);

    // Non-owning link to the scene this bar edits; null for instances QML creates itself.
    void attachScene(Scene* scene) { this->scene = scene; }

private:
    Scene* scene = nullptr;
};
