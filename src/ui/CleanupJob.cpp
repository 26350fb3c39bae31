#include "ui/CleanupJob.h"

#include "ui/GLRectangleRenderer.h"
#include "ui/GlobalStateHandler.h"

namespace tavorin {

void CleanupJob::run()
{
    destroyGlobalState();
    delete renderer;
}

} // namespace tavorin
