#pragma once

#include "acquisition/live/CameraRecorder.h"
#include "network/ros/CameraInfoModel.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// Records every network camera into FOLDER/kinect_<name>.h5 (<name>: the last part of its
// namespace, or the whole namespace when another camera's ends the same way, made safe as serials
// are), in the layout playback reads: its depth, the parameter row and, for a camera of the Azure
// Kinect's narrow mode, a raw calibration blob with its model, so that the recording plays back
// with the rays it streamed with; its namespace and the frame_id of its first frame, so that its
// calibration can be stored as that network camera's. Each frame is stamped with its header stamp,
// all cameras on one time axis that starts with the recording. A camera's file is made with its
// first frame, and the time axis starts with the first frame of any camera. Frames come on the
// network source's receive thread; stop() on the owner's.
class NetworkRecording {
public:
    NetworkRecording(std::string folder, std::uint64_t frameLimit);
    ~NetworkRecording();

    // Receive thread.
    void onFrame(const std::string& nameSpace, const tavorin::CameraInfoFields& model, const std::uint16_t* depthMm,
                 double stampSeconds, const std::string& frameId);
    // Completes every file and says what each holds; true when each holds every frame taken.
    bool stop();
    bool hasGaps() const;
    // Every camera has reached the frame limit (false before the first camera).
    bool allDone() const;
    std::size_t cameraCount() const;

private:
    std::string folder;
    std::uint64_t frameLimit;
    std::uint64_t startNs = 0;          // guarded by mutex, as firstStampSeconds
    double firstStampSeconds = 0.0;     // the time axis's origin: the first frame's stamp
    mutable std::mutex mutex;
    std::map<std::string, std::shared_ptr<tavorin::CameraRecorder>> recorders; // guarded by mutex
    // Per camera, where its stamp 0 lies on the monotonic clock; guarded by mutex.
    std::map<std::string, double> axisOrigins;
    bool stopped = false;
};
