#pragma once

#include "acquisition/live/AzureKinectReadingThread.h"

#include <memory>
#include <vector>

// Every attached depth camera that opens, in index order, its capture thread started; a device that
// fails to open has said why on the console and is left out.
std::vector<std::shared_ptr<tavorin::AzureKinectReadingThread>> openAttachedDevices();
