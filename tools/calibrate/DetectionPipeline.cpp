#include "DetectionPipeline.h"

#include "StepWatchdog.h"

#include "acquisition/recording/HDF5RecordingReader.h"
#include "base/StopThreads.h"
#include "calibration/detection/LatticeDetection.h"
#include "calibration/detection/PointImage.h"

#include <algorithm>
#include <optional>
#include <utility>

using tavorin::HDF5RecordingReader, tavorin::LatticeDetectionResult, tavorin::PointImage;

namespace {

// Steps a recording may run ahead of the caller: enough to ride out one slow frame.
constexpr std::size_t kStepsAhead = 3;

// The frame captured nearest to t. The playback's seek assumes frames 1/30 s apart; a recording
// from a busy host has gaps, and that rule would land on a neighbouring frame, or on the same frame
// twice.
std::uint32_t frameNearest(const HDF5RecordingReader& reader, double t)
{
    std::uint32_t lo = 0;
    std::uint32_t hi = reader.frameCount() - 1;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        if (reader.timestampAt(mid) < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo > 0 && t - reader.timestampAt(lo - 1) <= reader.timestampAt(lo) - t)
        --lo;
    return lo;
}

PointImage imageOf(const HDF5RecordingReader& reader)
{
    constexpr std::int32_t kFloatsPerPoint = 4;
    return PointImage{reader.points(), static_cast<std::int32_t>(reader.width()),
                      static_cast<std::int32_t>(reader.height()), kFloatsPerPoint};
}

} // namespace

DetectionPipeline::DetectionPipeline(std::vector<std::shared_ptr<HDF5RecordingReader>> readers_,
                                     std::vector<double> stepTimes_)
    : readers(std::move(readers_)), stepTimes(std::move(stepTimes_)), slots(kStepsAhead)
{
    for (Slot& slot : slots) {
        slot.step.detections.resize(readers.size());
        slot.step.timestamps.resize(readers.size());
        slot.step.between.resize(readers.size());
    }
    for (std::size_t i = 0; i < readers.size(); ++i)
        threads.emplace_back([this, i] { run(i); });
}

DetectionPipeline::~DetectionPipeline()
{
    tavorin::stopAndJoin(mutex, ending, changed, threads);
}

// Recording thread. The library keeps its error stack per thread: silenced here once.
void DetectionPipeline::run(std::size_t recording)
{
    HDF5RecordingReader::silenceLibraryErrors();
    HDF5RecordingReader& reader = *readers[recording];
    std::optional<std::uint32_t> previous; // the frame searched for the previous step
    const auto search = [&](std::uint32_t frame, Frame& searched) {
        StepWatchdog::doing(recording, "reading frame " + std::to_string(frame) + " of " + reader.fileName());
        const bool loaded = reader.loadFrame(frame) && !reader.playbackStopped();
        StepWatchdog::doing(recording, "searching frame " + std::to_string(frame) + " of " + reader.fileName()
                                           + " for the lattice");
        searched.detection = loaded ? detectLattice(imageOf(reader)) : LatticeDetectionResult{};
        searched.timestamp = reader.currentTimestamp();
        StepWatchdog::doing(recording, "");
        return loaded;
    };
    for (std::size_t s = 0; s < stepTimes.size(); ++s) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return ending || s < taken + slots.size(); });
            if (ending)
                return;
        }
        const std::uint32_t frame = frameNearest(reader, stepTimes[s]);
        std::vector<Frame> between;
        bool stopped = false;
        for (std::uint32_t f = previous ? *previous + 1 : frame; f < frame && !stopped; ++f)
            stopped = !search(f, between.emplace_back());
        Frame found;
        stopped = stopped || !search(frame, found);
        previous = std::max(frame, previous.value_or(0));
        {
            std::lock_guard<std::mutex> lock(mutex);
            Slot& slot = slots[s % slots.size()];
            slot.step.detections[recording] = std::move(found.detection);
            slot.step.timestamps[recording] = found.timestamp;
            slot.step.between[recording] = std::move(between);
            slot.step.stopped = slot.step.stopped || stopped;
            ++slot.done;
        }
        changed.notify_all();
        if (stopped)
            return;
    }
}

DetectionPipeline::Step DetectionPipeline::next()
{
    std::unique_lock<std::mutex> lock(mutex);
    Slot& slot = slots[taken % slots.size()];
    changed.wait(lock, [&] { return slot.done == readers.size() || slot.step.stopped; });
    Step step = slot.step;
    slot.done = 0;
    slot.step.stopped = false;
    ++taken;
    lock.unlock();
    changed.notify_all();
    return step;
}
