#include "acquisition/recording/HDF5CameraProcessor.h"

#include "acquisition/recording/HDF5RecordingReader.h"
#include "acquisition/recording/ReaderRecord.h"
#include "base/Console.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <sstream>

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

double HDF5CameraProcessor::clockTime()
{
    if (paused)
        return pausedAt;
    double t = static_cast<double>(monotonicNs() - startClock) / kNsPerSecond + startTimestamp;
    if (looping && t > endTimestamp + kCalibrationStep) {
        startClock = monotonicNs();
        t = startTimestamp;
        endAnnounced = false;
    }
    return t;
}

namespace {

// A seek that walks off either end of a recording (t before its first frame, or within a few
// milliseconds after it, or past its last) holds the frame at that end, and says false as the seek
// does; without this a reader that has to walk back to its first frame stays where it began.
bool seekOrHoldEnd(HDF5RecordingReader& reader, double t)
{
    if (reader.seekToTime(t) || reader.frameCount() == 0)
        return true;
    const std::uint32_t last = reader.frameCount() - 1;
    const bool beforeStart = t < reader.timestampAt(0) + (reader.timestampAt(last) - reader.timestampAt(0)) / 2.0;
    reader.loadFrame(beforeStart ? 0 : last);
    return false;
}

} // namespace

void HDF5CameraProcessor::seekAll(double t)
{
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers)
        seekOrHoldEnd(*reader, t);
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
            if (!seekOrHoldEnd(*reader, t) || (hadFrame && reader->currentFrame() == before))
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
        stepOnce = false;
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
        if (paused && !stepOnce)
            return CalibrationFrame::None; // the transport holds registration too
        stepOnce = false;
        next = rewindHeld ? startTimestamp : stepTime + kCalibrationStep;
        rewindHeld = false;
        if (next > endTimestamp + kCalibrationStep / 2.0) {
            if (!looping)
                return CalibrationFrame::None;
            next = startTimestamp;
        }
    }
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
        pausedAt = stepTime;
        startClock = monotonicNs() - static_cast<std::int64_t>((stepTime - startTimestamp) * kNsPerSecond);
    }
    paceChanged.notify_all();
}

// The time of the frame on screen: the readers may trail the clock by a few frames, and a pause
// keeps what the operator saw. Called with paceMutex held.
double HDF5CameraProcessor::shownTime()
{
    if (held)
        return stepTime;
    const HDF5RecordingReader& first = *readers.front();
    if (first.points())
        return std::min(std::max(first.currentTimestamp(), startTimestamp), endTimestamp);
    return std::min(std::max(clockTime(), startTimestamp), endTimestamp);
}

PlaybackStatus HDF5CameraProcessor::playbackStatus() const
{
    PlaybackStatus status;
    if (readers.empty())
        return status;
    status.available = true;
    const HDF5RecordingReader& first = *readers.front();
    status.frames = first.frameCount();
    status.frame = std::min(first.currentFrame() + 1, status.frames);
    status.seconds = std::max(0.0, first.currentTimestamp() - startTimestamp);
    status.lengthSeconds = endTimestamp - startTimestamp;
    std::lock_guard<std::mutex> lock(paceMutex);
    status.paused = paused;
    status.looping = looping;
    const double t = held ? stepTime + kCalibrationStep / 2.0
                          : paused ? pausedAt
                                   : static_cast<double>(monotonicNs() - startClock) / kNsPerSecond + startTimestamp;
    status.ended = !looping && t >= endTimestamp;
    return status;
}

void HDF5CameraProcessor::controlPlayback(PlaybackCommand command)
{
    if (!playbackThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(paceMutex);
        const auto restartFrom = [&](double t) {
            startClock = monotonicNs() - static_cast<std::int64_t>((t - startTimestamp) * kNsPerSecond);
            endAnnounced = false;
        };
        switch (command) {
        case PlaybackCommand::Pause:
            if (!paused)
                pausedAt = shownTime();
            paused = true;
            break;
        case PlaybackCommand::Play: {
            const double at = shownTime();
            const bool atEnd = at + kCalibrationStep / 2.0 >= endTimestamp;
            paused = false;
            // At the end the recordings start over; held, registration takes them from the first
            // frame again.
            rewindHeld = held && atEnd;
            restartFrom(!held && atEnd ? startTimestamp : at);
            break;
        }
        case PlaybackCommand::Step:
            if (!paused)
                pausedAt = shownTime();
            paused = true;
            if (held) {
                // One frame on; from the last frame, the first.
                stepOnce = true;
                rewindHeld = stepTime + kCalibrationStep / 2.0 >= endTimestamp;
            } else {
                const HDF5RecordingReader& first = *readers.front();
                const std::uint32_t last = std::max<std::uint32_t>(first.frameCount(), 1) - 1;
                pausedAt = first.currentFrame() >= last ? startTimestamp
                                                        : std::max(pausedAt, first.timestampAt(first.currentFrame() + 1));
            }
            break;
        case PlaybackCommand::LoopOn:
        case PlaybackCommand::LoopOff:
            looping = command == PlaybackCommand::LoopOn;
            break;
        }
    }
    paceChanged.notify_all();
}

void HDF5CameraProcessor::process(SceneState& state)
{
    announceEnd();
    state.cameras.clear();
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers) {
        if (reader->points())
            state.cameras.push_back(std::make_shared<DepthCameraData>(cameraRecordOf(*reader)));
    }
}

// Once when playback passes the last frame (not looping), so that a view that stopped moving is
// explained on the console too.
void HDF5CameraProcessor::announceEnd()
{
    const PlaybackStatus status = playbackStatus();
    {
        std::lock_guard<std::mutex> lock(paceMutex);
        if (!status.ended) {
            endAnnounced = false;
            return;
        }
        if (endAnnounced)
            return;
        endAnnounced = true;
    }
    std::ostringstream line;
    line << std::fixed << std::setprecision(1) << "Playback reached the end of the recordings: frame " << status.frame
         << " of " << status.frames << ", " << status.seconds << " s";
    console::out(line.str());
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
