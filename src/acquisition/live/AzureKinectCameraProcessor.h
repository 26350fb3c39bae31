#pragma once

#include "acquisition/live/SyncChain.h"
#include "scene/DepthCameraProcessor.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavorin {

class AzureKinectReadingThread;

// The live depth source: one capture thread per attached Azure Kinect device. Constructed during
// static initialisation (the scene's first source) or on the render thread; every other call is
// render-thread only (setModelMatrix also from the GUI thread under the scene's frame lock).
class AzureKinectCameraProcessor : public DepthCameraProcessor {
public:
    // Opens every attached device and prints "Found <count> Azure Kinects".
    AzureKinectCameraProcessor();
    // Stops and joins every capture thread before their buffers go.
    ~AzureKinectCameraProcessor() override;

    // One record per device that has published its buffers; re-scans the devices every
    // rescanInterval seconds and drops the threads that have ended.
    void process(SceneState& state) override;
    void setModelMatrix(std::string name, const Mat4& matrix) override;
    void setDepthCorrection(std::string name, const DepthCorrection& correction) override;

    // Opens a thread object per attached device, in index order, keeping those that open in
    // `threads` (in index order) and the others for retries. The devices' sync jacks decide their
    // roles (planSyncChain), printed in one line, and the order they start in.
    void openAll();
    // "standalone" or "synchronised, N subordinates", from the roles the devices stream in now;
    // empty without a streaming device.
    std::string syncMode() const override;
    void holdFrames(SceneState& state) override;
    void releaseFrames() override;
    bool drawsHeldFrames() const override { return true; }
    bool holdNextFrames(SceneState& state) override;
    // Requests every thread to stop first, then joins them in order; the list is kept.
    void stopAll();

    std::int64_t lastScanTime = 0; // monotonic nanoseconds of the last re-scan
    float rescanInterval = 3.0f;   // seconds
    // The longest holdFrames waits for a wired chain's newest captures to be one capture.
    std::chrono::milliseconds lineUpWait{35};
    // The longest holdNextFrames waits for every camera's next capture.
    std::chrono::milliseconds nextFramesWait{50};
    std::vector<std::shared_ptr<AzureKinectReadingThread>> threads;

private:
    void rescanIfDue();
    void restartUntriggeredSubordinates();
    void restartAll();
    void openUnheldDevices(std::uint32_t count);
    bool holdsIndex(std::uint32_t index) const;
    std::shared_ptr<AzureKinectReadingThread> unopenedAt(std::uint32_t index);
    void collectRecords(SceneState& state);
    void holdNewestFrames(SceneState& state);
    // Every streaming device belongs to the sync chain (there are at least two).
    bool allWired() const;
    bool capturesLineUp() const;

    // Thread objects of attached devices that did not open, kept so that a retry prints only what
    // changed. They hold no device.
    std::vector<std::shared_ptr<AzureKinectReadingThread>> unopened;
    // The number of attached devices at the last scan, and whether it has changed since the
    // devices were opened: the SDK numbers devices by their place in its enumeration, so a device
    // that comes or goes may move the others to new indices.
    std::uint32_t scannedCount = 0;
    bool indicesMayHaveMoved = false;
    std::vector<std::unique_lock<std::mutex>> heldFrames; // between holdFrames and releaseFrames
};

} // namespace tavorin
