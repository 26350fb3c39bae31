#pragma once

#include "app/Scene.h"
#include "ui/GLRectangleViewModel.h"
#include "ui/RecordViewModel.h"
#include "ui/RightBarViewModel.h"
#include "ui/ViewOptionsViewModel.h"

#include <QObject>

#include <atomic>

namespace tavorin {

// The one object the window works on: the view models and the scene, by value, constructed in
// that order (the view options before the scene, which reads them until it goes). Created during static initialisation; deleted once, by the viewport's clean-up job on
// the render thread, or by main() when that job never ran.
class GlobalStateHandler : public QObject {
    Q_OBJECT
    Q_PROPERTY(tavorin::RightBarViewModel* rightBarViewModel READ rightBarViewModelPtr CONSTANT)
    Q_PROPERTY(tavorin::GLRectangleViewModel* glRectangleViewModel READ glRectangleViewModelPtr CONSTANT)
    Q_PROPERTY(tavorin::RecordViewModel* recordViewModel READ recordViewModelPtr CONSTANT)
    Q_PROPERTY(tavorin::ViewOptionsViewModel* viewOptionsViewModel READ viewOptionsViewModelPtr CONSTANT)
public:
    GlobalStateHandler();

    RightBarViewModel* rightBarViewModelPtr() { return &rightBarViewModel; }
    GLRectangleViewModel* glRectangleViewModelPtr() { return &glRectangleViewModel; }
    RecordViewModel* recordViewModelPtr() { return &recordViewModel; }
    ViewOptionsViewModel* viewOptionsViewModelPtr() { return &viewOptionsViewModel; }

    RightBarViewModel rightBarViewModel;
    GLRectangleViewModel glRectangleViewModel;
    ViewOptionsViewModel viewOptionsViewModel;
    Scene scene;
    // After the scene: a recording still running ends, its files completed, before the scene stops
    // the live cameras.
    RecordViewModel recordViewModel;
};

// The process-wide instance; null before static initialisation creates it and after shutdown.
extern std::atomic<GlobalStateHandler*> globalStateHandler;

// Deletes the process-wide instance if it still exists; safe to call from several places, only
// the first call deletes.
void destroyGlobalState();

} // namespace tavorin
