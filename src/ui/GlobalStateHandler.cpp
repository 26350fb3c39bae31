#include "ui/GlobalStateHandler.h"

namespace tavorin {

std::atomic<GlobalStateHandler*> globalStateHandler{nullptr};

GlobalStateHandler::GlobalStateHandler() : QObject(nullptr)
{
    rightBarViewModel.attachScene(&scene);
    glRectangleViewModel.attachScene(&scene);
    recordViewModel.attachScene(&scene);
    scene.attachRightBar(&rightBarViewModel);
    scene.attachViewOptions(&viewOptionsViewModel);
}

void destroyGlobalState()
{
    delete globalStateHandler.exchange(nullptr);
}

} // namespace tavorin
