#pragma once

#include "app/MovedCameraReport.h"
#include "calibration/quality/CalibrationQuality.h"
#include "scene/DepthCameraProcessor.h"

#include <string>
#include <vector>

namespace tavorin {

// What the scene reads from the settings bar every frame, and the cursor it sets when a point is
// picked. The right bar's view model implements it; reads come from the render thread, the cursor
// setters from the GUI thread, so an implementation keeps every value atomic.
class SceneSettings {
public:
    virtual bool depthCameraRegistrationEnabled() const = 0;
    virtual bool debug_showKinectPC() const = 0;
    virtual bool debug_showHeightMap() const = 0;
    virtual bool debug_showRays() const = 0;
    virtual bool debug_renderModuleBrightnessText() const = 0;
    virtual bool calibCursorMode() const = 0;
    // Room coordinates, metres.
    virtual float calibCursorX() const = 0;
    virtual float calibCursorY() const = 0;
    virtual float calibCursorZ() const = 0;
    virtual void setCalibCursorX(float value) = 0;
    virtual void setCalibCursorY(float value) = 0;
    virtual void setCalibCursorZ(float value) = 0;
    // The registration's progress, one line per camera; from the render thread.
    virtual void setRegistrationProgress(const std::vector<std::string>& lines) = 0;
    // How the cameras are synchronised and how far apart the current frames were captured; from
    // the render thread.
    virtual void setFrameSetTiming(const std::string& line) = 0;
    // Where the recordings being played stand (not available for other sources); from the render
    // thread.
    virtual void setPlaybackStatus(const PlaybackStatus& status) = 0;
    // Each camera's calibration quality, a few times a second; from the render thread.
    virtual void setCalibrationQuality(const std::vector<CameraQuality>& cameras) = 0;
    // The moved-camera check of every camera that it could check, every few seconds; from the
    // check's own thread.
    virtual void setMovedCameraChecks(const std::vector<MovedCameraCheck>& checks) = 0;

protected:
    ~SceneSettings() = default; // not owned through this interface
};

} // namespace tavorin
