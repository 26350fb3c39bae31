#include "AttachedDevices.h"

#include <k4a/k4a.h>

std::vector<std::shared_ptr<tavorin::AzureKinectReadingThread>> openAttachedDevices()
{
    std::vector<std::shared_ptr<tavorin::AzureKinectReadingThread>> devices;
    const std::uint32_t count = k4a_device_get_installed_count();
    for (std::uint32_t index = 0; index < count; ++index) {
        auto device = std::make_shared<tavorin::AzureKinectReadingThread>(index);
        if (device->open())
            devices.push_back(std::move(device));
    }
    return devices;
}
