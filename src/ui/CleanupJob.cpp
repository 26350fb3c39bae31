#include "ui/CleanupJob.h"

#include "app/GlobalStateHandler.h"
#include "ui/GLRectangleRenderer.h"

namespace tavorin {

void CleanupJob::run()
{
    destroyGlobalState();
    delete renderer;
}

} // namespace tavorin
