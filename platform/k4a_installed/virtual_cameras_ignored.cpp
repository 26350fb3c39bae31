// Linked beside the installed Azure Kinect Sensor SDK, which has no virtual cameras: when they are
// asked for, one line at start-up says that the variable is ignored.
#include <cstdlib>
#include <iostream>

namespace {

bool noteIgnoredVirtualCameras()
{
    const char* count = std::getenv("TAVORIN_VIRTUAL_CAMERAS");
    if (count && *count)
        std::cout << "TAVORIN_VIRTUAL_CAMERAS is ignored: the installed Azure Kinect SDK opens real devices only."
                  << std::endl;
    return true;
}

} // namespace

extern "C" {
// Named on the link line, so that this object, and with it the line, is always linked.
extern const bool tavorin_virtual_cameras_ignored;
const bool tavorin_virtual_cameras_ignored = noteIgnoredVirtualCameras();
}
