#include "ui/CleanupJob.h"

#include "app/GlobalStateHandler.h"
#include "ui/GLRectangleRenderer.h"

void CleanupJob::run()
{
    destroyGlobalState();
    delete renderer;
}
