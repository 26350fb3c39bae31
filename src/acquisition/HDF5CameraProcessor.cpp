#include "acquisition/HDF5CameraProcessor.h"

#include "acquisition/HDF5RecordingReader.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include <algorithm>
#include <chrono>

namespace tavorin {

namespace {

constexpr double kNsPerSecond = 1e9;
constexpr double kCalibrationStep = 1.0 / 30.0; // seconds between the frames registration takes

} // namespace

HDF5CameraProcessor::HDF5CameraProcessor(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        auto reader = std::make_shared<HDF5RecordingReader>();
        if (reader->open(path, true))
            readers.push_back(std::move(reader));
    }
    if (readers.empty())
        return;
    startTimestamp = readers.front()->timestampAt(0);
    endTimestamp = startTimestamp;
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers)
        if (reader->frameCount() > 0)
            endTimestamp = std::max(endTimestamp, reader->timestampAt(reader->frameCount() - 1));
    startClock = monotonicNs();
    playbackThread = std::thread(&HDF5CameraProcessor::playback, this);
}

HDF5CameraProcessor::~HDF5CameraProcessor()
{
    {
        std::lock_guard<std::mutex> lock(paceMutex);
        stopFlag.store(true);
    }
    paceChanged.notify_all();
    if (playbackThread.joinable())
        playbackThread.join();
}

double HDF5CameraProcessor::clockTime() const
{
    return static_cast<double>(monotonicNs() - startClock) / kNsPerSecond + startTimestamp;
}

void HDF5CameraProcessor::seekAll(double t)
{
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers)
        reader->seekToTime(t);
}

// One seek moves a reader only a few frames (and from nowhere before its first frame): a held
// step seeks until the reader stays, so that every reader holds the frame for t, or its first.
void HDF5CameraProcessor::settleAll(double t)
{
    constexpr int kMaxSeeks = 64;
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers) {
        for (int seek = 0; seek < kMaxSeeks; ++seek) {
            const std::uint32_t before = reader->currentFrame();
            const bool hadFrame = reader->points() != nullptr;
            if (!reader->seekToTime(t) || (hadFrame && reader->currentFrame() == before))
                break;
        }
        if (!reader->points())
            reader->loadFrame(0);
    }
}

// Playback thread. On the clock it sleeps briefly between passes (well below one frame period of
// 33 ms) so that a recording source does not keep a core busy; held, it sleeps until a step is
// asked for.
void HDF5CameraProcessor::playback()
{
    constexpr auto kPassPause = std::chrono::microseconds(500);
    HDF5RecordingReader::silenceLibraryErrors();
    std::unique_lock<std::mutex> lock(paceMutex);
    while (!stopFlag.load()) {
        if (!held) {
            const double t = clockTime();
            lock.unlock();
            seekAll(t);
            lock.lock();
            paceChanged.wait_for(lock, kPassPause, [this] { return held || stopFlag.load(); });
            continue;
        }
        if (stepsLoaded == stepsAsked) {
            paceChanged.wait(lock, [this] { return stepsLoaded != stepsAsked || !held || stopFlag.load(); });
            continue;
        }
        const std::uint64_t step = stepsAsked;
        const double t = stepTime;
        lock.unlock();
        settleAll(t);
        lock.lock();
        stepsLoaded = step;
        paceChanged.notify_all();
    }
    lock.unlock();
    HDF5RecordingReader::clearLibraryErrors();
}

void HDF5CameraProcessor::moveTo(double t)
{
    std::unique_lock<std::mutex> lock(paceMutex);
    held = true;
    stepTime = t;
    const std::uint64_t step = ++stepsAsked;
    paceChanged.notify_all();
    paceChanged.wait(lock, [&] { return stepsLoaded >= step; });
}

void HDF5CameraProcessor::holdForCalibration()
{
    if (!playbackThread.joinable())
        return;
    double t = 0.0;
    {
        std::lock_guard<std::mutex> lock(paceMutex);
        if (held)
            return;
        t = std::min(std::max(clockTime(), startTimestamp), endTimestamp);
    }
    heldFrameCalibrated = false;
    moveTo(t);
}

CalibrationFrame HDF5CameraProcessor::nextCalibrationFrame()
{
    if (!playbackThread.joinable())
        return CalibrationFrame::None;
    holdForCalibration();
    if (!heldFrameCalibrated) {
        heldFrameCalibrated = true;
        return CalibrationFrame::Next;
    }
    double next = 0.0;
    {
        std::lock_guard<std::mutex> lock(paceMutex);
        next = stepTime + kCalibrationStep;
    }
    if (next > endTimestamp + kCalibrationStep / 2.0)
        return CalibrationFrame::None;
    moveTo(next);
    return CalibrationFrame::Next;
}

void HDF5CameraProcessor::resumeClock()
{
    {
        std::lock_guard<std::mutex> lock(paceMutex);
        if (!held)
            return;
        held = false;
        startClock = monotonicNs() - static_cast<std::int64_t>((stepTime - startTimestamp) * kNsPerSecond);
    }
    paceChanged.notify_all();
}

void HDF5CameraProcessor::process(SceneState& state)
{
    state.cameras.clear();
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers) {
        float* points = reader->points();
        if (!points)
            continue;
        DepthCameraData record;
        record.modelMatrix = reader->modelMatrix();
        record.depthCorrection = reader->depthCorrection();
        record.removedDepthCorrection = reader->removedDepthCorrection();
        record.sourceName = reader->fileName();
        record.configPath = reader->configPath();
        record.points = points;
        record.colors = reader->colors();
        record.hasPointCloud = true;
        record.hasColor = reader->colourEnabled();
        record.width = static_cast<std::int32_t>(reader->width());
        record.height = static_cast<std::int32_t>(reader->height());
        record.timestamp = reader->currentTimestamp();
        state.cameras.push_back(std::make_shared<DepthCameraData>(record));
    }
}

void HDF5CameraProcessor::setDepthCorrection(std::string name, const DepthCorrection& correction)
{
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers)
        if (reader->fileName() == name) {
            reader->setDepthCorrection(correction);
            return;
        }
}

void HDF5CameraProcessor::setModelMatrix(std::string name, const Mat4& matrix)
{
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers)
        if (reader->fileName() == name) {
            reader->setModelMatrix(matrix);
            return;
        }
}

} // namespace tavorin
