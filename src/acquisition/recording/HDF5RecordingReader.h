#pragma once

#include "acquisition/config/DepthCorrectionInUse.h"
#include "base/NonCopyable.h"
#include "math/Mat4.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavorin {

// Reads one HDF5 recording of a depth camera frame by frame and turns each frame into points.
// open() runs on the thread that creates the source; loadFrame, seekToTime and timestampAt on
// the playback thread only. The render thread reads points(), colors(), the sizes, the names and
// the model matrix while the playback thread overwrites the buffers in place.
class HDF5RecordingReader : NonCopyable {
public:
    HDF5RecordingReader();
    ~HDF5RecordingReader();

    // Opens the recording and reads its configuration file. False (with a message on standard
    // error) when the file cannot be played: it cannot be opened, a data set has the wrong shape
    // or a stored type that does not convert exactly, the timestamps or the intrinsics (raw
    // calibration, or every frame's pinhole parameters) are implausible. Of the optional data sets
    // (colour, raw calibration, ROS names) one that is not what it should be is left out with a
    // line, unless its link, stored type or storage is refused as every data set's is.
    bool open(const std::string& path, bool colour);
    // Switches off the HDF5 library's error printing for the calling thread (the library keeps
    // one error stack per thread); every thread that reads recordings calls it once.
    static void silenceLibraryErrors();
    // Drops the errors the library recorded for the calling thread; a reading thread calls it
    // before it ends, since the library does not free them with the thread.
    static void clearLibraryErrors();
    void loadConfig();

    // Seconds on the recording's clock; without timestamps frame i is at i / 30 s.
    double timestampAt(std::uint32_t frame) const;
    // Loads the frame (never rereads the frame already held). False past the end or when the
    // reader has stopped on a read or calibration failure.
    bool loadFrame(std::uint32_t frame);
    // Moves toward the frame for time t (seconds); see the .cpp for the stepping rule.
    bool seekToTime(double t);

    // Null until the first frame is loaded; then width * height * 4 floats (metres), fixed address.
    float* points() const { return publishedPoints.load(std::memory_order_acquire); }
    // width * height * 4 bytes in the recording's channel order, allocated at opening when colour
    // was asked for (fill colour where not read); else null.
    std::uint8_t* colors() { return colorBuffer.empty() ? nullptr : colorBuffer.data(); }

    bool colourEnabled() const { return colorEnabled; }
    const std::string& fileName() const { return name; }
    const std::string& configPath() const { return configFile; }
    std::uint32_t width() const { return imageWidth; }
    std::uint32_t height() const { return imageHeight; }
    std::uint32_t frameCount() const { return frames; }
    std::uint32_t currentFrame() const { return loadedFrame.load(std::memory_order_acquire); }
    double currentTimestamp() const;
    // Frames read from the file so far (a frame already held is not read again).
    std::uint64_t frameReads() const { return framesRead.load(std::memory_order_relaxed); }
    bool hasRawCalibration() const { return rawCalibrationSize > 0; }
    // A recording of a network camera: its ROS namespace and the frame_id of its images; empty
    // for other recordings.
    const std::string& rosNamespace() const { return rosNamespaceName; }
    const std::string& rosFrameId() const { return rosFrameIdName; }
    // True once a frame or the calibration failed: nothing is loaded any more. Playback thread.
    bool playbackStopped() const { return stopped; }

    Mat4 modelMatrix() const;
    void setModelMatrix(const Mat4& matrix);
    // The depth error removed from every point made from the next frame on; from the file beside
    // the configuration file at opening. Any thread.
    DepthCorrection depthCorrection() const { return corrections.wanted(); }
    void setDepthCorrection(const DepthCorrection& correction) { corrections.setWanted(correction); }
    // The depth error removed from the points of the frame loaded last. Any thread.
    DepthCorrection removedDepthCorrection() const { return corrections.removed(); }

    // For republishing a recording. Playback thread (or the thread that loads its frames).
    // The loaded frame's depth in millimetres (0: no measurement), width * height.
    void loadedDepthMm(std::vector<std::uint16_t>& depthMm) const;
    // The camera parameters in the recordings' per-frame layout (principal point with pixel
    // centres at +0.5, focal lengths, k1..k6, codx, cody, p2, p1): from the raw calibration when
    // the recording has one, else the loaded frame's row.
    std::vector<float> cameraParameterRow() const;

private:
    struct Handles;

    bool refuse(const std::string& reason) const;
    bool accepted(const char* setName, const std::string& fault) const;
    bool linkAccepted(const char* setName) const;
    bool openDepth();
    bool openCameraParameters();
    bool openRawCalibration();
    bool loadCalibration();
    bool openTimestamps();
    bool openRosNames();
    bool checkPinholeParameters();
    bool openColour();
    void fillColour();
    bool readFrameData(std::uint32_t frame);
    bool readColour(std::uint32_t frame);
    bool computeCalibratedPoints();
    bool buildXyTable();
    void computePinholePoints();
    float* pointBuffer();
    void publishPoints();
    void removeDepthError();
    void stop(const std::string& message);

    std::unique_ptr<float[]> pointStorage;
    std::atomic<float*> publishedPoints{nullptr};
    std::vector<float> xyTable; // width * height * 2: unit-depth ray (x, -y) of every pixel
    bool xyTableReady = false;
    bool colorEnabled = false;
    std::string name;
    std::string configFile;
    std::unique_ptr<Handles> h5;
    std::uint32_t imageWidth = 0;
    std::uint32_t imageHeight = 0;
    std::uint32_t parameterCount = 0;
    std::uint32_t rawCalibrationSize = 0;
    std::uint32_t frames = 0;
    std::atomic<std::uint32_t> loadedFrame{0};
    bool frameLoaded = false;
    std::atomic<std::uint64_t> framesRead{0};
    bool stopped = false;
    bool colourFailureReported = false;
    std::vector<float> depth;            // width * height, millimetres
    // The same frame as read from a 16-bit chunk, when the points come from the calibration: the
    // conversion then skips the float copy. depthIsMm16 says which of the two holds the frame.
    std::vector<std::uint16_t> depthMm16;
    bool depthIsMm16 = false;
    std::vector<float> cameraParameters; // parameterCount floats of the current frame
    std::atomic<double> timestamp{0.0};
    bool hasTimestamps = false;
    std::vector<double> timestamps; // seconds, one per frame, read at opening
    std::vector<std::uint8_t> colorBuffer;
    std::vector<std::uint8_t> rawCalibration;
    std::string rosNamespaceName;
    std::string rosFrameIdName;
    mutable std::mutex matrixMutex;
    Mat4 matrix;                 // guarded by matrixMutex
    DepthCorrectionInUse corrections;
};

} // namespace tavorin
