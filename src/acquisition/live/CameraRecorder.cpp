#include "acquisition/live/CameraRecorder.h"

#include "base/Console.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <sstream>

namespace tavorin {

namespace {

constexpr int kBgraBytesPerPixel = 4;
constexpr double kNsPerSecond = 1e9;
constexpr double kUsecPerSecond = 1e6;

} // namespace

CameraRecorder::CameraRecorder(Settings settings_)
    : settings(std::move(settings_)), writer(settings.depthLevel, settings.colorLevel)
{
    if (settings.layout.width > 0 && settings.layout.height > 0)
        makeSlots(settings.layout.width, settings.layout.height);
    writerThread = std::thread(&CameraRecorder::writeLoop, this);
}

// The queue's slots for frames of this size, every one free. A second of frames is some 66 MB:
// made by the capture thread at the first frame, they stalled the capture by 0.1 to 0.3 s.
void CameraRecorder::makeSlots(std::int32_t frameWidth, std::int32_t frameHeight)
{
    width = frameWidth;
    height = frameHeight;
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    slotPool.resize(settings.queueFrames);
    std::lock_guard<std::mutex> lock(queueMutex);
    for (Slot& slot : slotPool) {
        slot.depthMm.resize(pixels);
        slot.bgra.resize(settings.layout.withColor ? pixels * kBgraBytesPerPixel : 0);
        freeSlots.push_back(&slot);
    }
}

CameraRecorder::~CameraRecorder()
{
    finish();
}

// False for a frame that cannot follow the previous one: a device clock that did not advance.
// The time axis counts from the session's start on the host clock, each frame at its capture time.
bool CameraRecorder::onTimeAxis(const CapturedFrame& frame, double& seconds)
{
    if (sawFrame && frame.deviceTimestampUsec <= lastDeviceUsec)
        return false;
    sawFrame = true;
    lastDeviceUsec = frame.deviceTimestampUsec;
    seconds = frame.captureSeconds - static_cast<double>(startNs.load()) / kNsPerSecond;
    return true;
}

// Null when no slot is free.
CameraRecorder::Slot* CameraRecorder::takeFreeSlot()
{
    std::lock_guard<std::mutex> lock(queueMutex);
    if (closing || freeSlots.empty())
        return nullptr;
    Slot* slot = freeSlots.front();
    freeSlots.pop_front();
    return slot;
}

void CameraRecorder::start(std::uint64_t startNs_)
{
    std::uint64_t never = kNever;
    startNs.compare_exchange_strong(never, startNs_);
}

void CameraRecorder::end(std::uint64_t endNs_)
{
    endNs.store(endNs_);
}

void CameraRecorder::onFrame(const CapturedFrame& frame)
{
    seen.fetch_add(1);
    latestNs.store(frame.systemTimestampNsec);
    if (done.load() || frame.systemTimestampNsec < startNs.load() || frame.systemTimestampNsec > endNs.load())
        return;
    if (slotPool.empty())
        makeSlots(frame.width, frame.height);
    double seconds = 0.0;
    if (frame.width != width || frame.height != height || !onTimeAxis(frame, seconds))
        return;
    noteArrival(seconds);
    Slot* slot = takeFreeSlot();
    if (!slot) {
        dropped.fetch_add(1);
        return;
    }
    std::memcpy(slot->depthMm.data(), frame.depthMm, slot->depthMm.size() * sizeof(std::uint16_t));
    if (!slot->bgra.empty())
        std::memcpy(slot->bgra.data(), frame.bgra, slot->bgra.size());
    slot->seconds = seconds;
    noteInterval(seconds);
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        filledSlots.push_back(slot);
    }
    queueChanged.notify_one();
    if (taken.fetch_add(1) + 1 == settings.frameLimit)
        done.store(true);
}

// Capture thread: the interval since the frame that came before (or since the start), taken or
// dropped: what never came is counted from these.
void CameraRecorder::noteArrival(double seconds)
{
    std::lock_guard<std::mutex> lock(gapMutex);
    intervals.push_back(seconds - lastArrivedSeconds);
    lastArrivedSeconds = seconds;
}

// Capture thread: the interval since the frame taken before (or since the start).
void CameraRecorder::noteInterval(double seconds)
{
    constexpr std::size_t kRecentIntervals = 31;
    const double interval = seconds - lastTakenSeconds;
    std::lock_guard<std::mutex> lock(gapMutex);
    const double period = settings.periodFromStamps && intervals.size() > 2
        ? medianInterval(intervals.size() > kRecentIntervals ? intervals.size() - kRecentIntervals : 1)
        : settings.framePeriodSeconds;
    if (interval > kGapPeriods * period)
        gapList.push_back({lastTakenSeconds, interval});
    lastTakenSeconds = seconds;
}

// The median of the intervals from `first` on (gapMutex held; the first interval counts from the
// start, not from a frame); 0 without one.
double CameraRecorder::medianInterval(std::size_t first) const
{
    if (intervals.size() <= first)
        return 0.0;
    std::vector<double> recent(intervals.begin() + static_cast<std::ptrdiff_t>(first), intervals.end());
    std::nth_element(recent.begin(), recent.begin() + static_cast<std::ptrdiff_t>(recent.size() / 2), recent.end());
    return recent[recent.size() / 2];
}

std::uint64_t CameraRecorder::framesMissed() const
{
    std::lock_guard<std::mutex> lock(gapMutex);
    const double period = settings.periodFromStamps ? medianInterval(1) : settings.framePeriodSeconds;
    if (!(period > 0.0))
        return 0;
    std::uint64_t missed = 0;
    for (const double interval : intervals) {
        const long periods = std::lround(interval / period);
        missed += periods > 1 ? static_cast<std::uint64_t>(periods - 1) : 0;
    }
    return missed;
}

std::vector<CameraRecorder::Gap> CameraRecorder::gaps() const
{
    std::lock_guard<std::mutex> lock(gapMutex);
    return gapList;
}

// Writer thread: until finish() closes the queue and the queue is empty.
void CameraRecorder::writeLoop()
{
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock<std::mutex> lock(queueMutex);
            queueChanged.wait(lock, [this] { return closing || !filledSlots.empty(); });
            if (filledSlots.empty())
                return;
            slot = filledSlots.front();
            filledSlots.pop_front();
        }
        if (!writeFailed.load() && writeSlot(*slot))
            written.fetch_add(1);
        std::lock_guard<std::mutex> lock(queueMutex);
        freeSlots.push_back(slot);
    }
}

// Writer thread. The first frame creates the file; a failure ends the recording of this camera.
bool CameraRecorder::writeSlot(const Slot& slot)
{
    if (written.load() == 0 && writer.frames() == 0 && writer.path().empty()) {
        HDF5RecordingWriter::Layout layout = settings.layout;
        layout.width = width;
        layout.height = height;
        if (!writer.create(settings.path, layout)) {
            writeFailed.store(true);
            done.store(true);
            return false;
        }
    }
    if (writer.append(slot.depthMm.data(), slot.bgra.data(), slot.seconds))
        return true;
    writeFailed.store(true);
    done.store(true);
    return false;
}

bool CameraRecorder::finish()
{
    if (finished)
        return failure.empty();
    finished = true;
    done.store(true);
    {
        std::lock_guard<std::mutex> lock(queueMutex);
        closing = true;
    }
    queueChanged.notify_all();
    writerThread.join();
    if (writer.path().empty()) {
        failure = "no frame arrived";
        return false;
    }
    const bool complete = writer.finish();
    if (!writer.error().empty())
        failure = writer.error();
    else if (!complete)
        failure = "cannot complete " + settings.path;
    return complete && !writeFailed.load();
}

void reportCaptureGaps(const std::string& cameraName, const CameraRecorder& recorder)
{
    constexpr std::size_t kMaxGapLines = 10;
    const std::vector<CameraRecorder::Gap> gaps = recorder.gaps();
    for (std::size_t i = 0; i < gaps.size() && i < kMaxGapLines; ++i) {
        std::ostringstream line;
        line << std::fixed << std::setprecision(3) << "Gap in the capture of " << cameraName << ": no frame for "
             << gaps[i].lengthSeconds << " s after " << gaps[i].afterSeconds << " s";
        console::err(line.str());
    }
    if (gaps.size() > kMaxGapLines)
        console::err("Gaps in the capture of ", cameraName, ": ", gaps.size(), " in all");
    if (const std::uint64_t missed = recorder.framesMissed())
        console::err("Frames of ", cameraName, " that never came: ", missed);
}

} // namespace tavorin
