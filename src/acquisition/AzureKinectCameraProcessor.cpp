#include "acquisition/AzureKinectCameraProcessor.h"

#include "acquisition/AzureKinectReadingThread.h"
#include "acquisition/CameraConfigFiles.h"
#include "acquisition/DepthCameraData.h"
#include "app/SceneState.h"

#include <k4a/k4a.h>

#include <iostream>

AzureKinectCameraProcessor::AzureKinectCameraProcessor()
{
    const std::uint32_t count = k4a_device_get_installed_count();
    openAll();
    std::cout << "Found " << count << " Azure Kinects" << std::endl;
}

AzureKinectCameraProcessor::~AzureKinectCameraProcessor()
{
    stopAll();
    std::cout << "Destructed Kinect Camera Processor." << std::endl;
}

void AzureKinectCameraProcessor::openAll()
{
    const std::uint32_t count = k4a_device_get_installed_count();
    for (std::uint32_t index = 0; index < count; ++index) {
        auto thread = std::make_shared<AzureKinectReadingThread>(index);
        if (thread->open())
            threads.push_back(std::move(thread));
    }
}

void AzureKinectCameraProcessor::stopAll()
{
    for (const auto& thread : threads)
        thread->requestStop();
    for (const auto& thread : threads)
        thread->stop();
}

void AzureKinectCameraProcessor::process(SceneState& state)
{
    state.cameras.clear();
    rescanIfDue();
    collectRecords(state);
}

// More devices attached than running restarts all of them, so that every device gets its index.
void AzureKinectCameraProcessor::rescanIfDue()
{
    constexpr std::int64_t kNsPerUs = 1000;
    constexpr float kUsPerSecond = 1e6f;
    const std::int64_t now = monotonicNs();
    const float elapsedSeconds = static_cast<float>((now - lastScanTime) / kNsPerUs) / kUsPerSecond;
    if (elapsedSeconds <= rescanInterval)
        return;
    if (k4a_device_get_installed_count() > threads.size()) {
        stopAll();
        threads.clear();
        openAll();
    }
    lastScanTime = now;
}

void AzureKinectCameraProcessor::collectRecords(SceneState& state)
{
    for (std::size_t i = 0; i < threads.size();) {
        AzureKinectReadingThread& thread = *threads[i];
        if (thread.isStopRequested()) {
            thread.stop();
            threads.erase(threads.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        if (float* points = thread.points()) {
            DepthCameraData record;
            record.modelMatrix = thread.modelMatrix;
            record.sourceName = thread.serialNumber();
            record.configPath = liveCameraConfigPath(thread.serialNumber());
            record.points = points;
            record.colors = thread.colors();
            record.hasPointCloud = true;
            record.hasColor = true;
            record.width = thread.width();
            record.height = thread.height();
            state.cameras.push_back(std::make_shared<DepthCameraData>(record));
        }
        ++i;
    }
}

void AzureKinectCameraProcessor::setModelMatrix(std::string name, const Mat4& matrix)
{
    for (const auto& thread : threads)
        if (thread->serialNumber() == name) {
            thread->modelMatrix = matrix;
            return;
        }
}
