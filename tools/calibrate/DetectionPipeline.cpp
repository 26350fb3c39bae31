#include "DetectionPipeline.h"

#include "acquisition/HDF5RecordingReader.h"
#include "calibration/LatticeDetection.h"
#include "calibration/PointImage.h"

#include <utility>

using tavorin::HDF5RecordingReader, tavorin::LatticeDetectionResult, tavorin::PointImage;

namespace {

// Steps a recording may run ahead of the caller: enough to ride out one slow frame.
constexpr std::size_t kStepsAhead = 3;

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
    }
    for (std::size_t i = 0; i < readers.size(); ++i)
        threads.emplace_back([this, i] { run(i); });
}

DetectionPipeline::~DetectionPipeline()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ending = true;
    }
    changed.notify_all();
    for (std::thread& thread : threads)
        thread.join();
}

// Recording thread. The library keeps its error stack per thread: silenced here once.
void DetectionPipeline::run(std::size_t recording)
{
    HDF5RecordingReader::silenceLibraryErrors();
    HDF5RecordingReader& reader = *readers[recording];
    for (std::size_t s = 0; s < stepTimes.size(); ++s) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return ending || s < taken + slots.size(); });
            if (ending)
                return;
        }
        reader.seekToTime(stepTimes[s]);
        const bool stopped = reader.playbackStopped();
        LatticeDetectionResult found = stopped ? LatticeDetectionResult{} : detectLattice(imageOf(reader));
        const double timestamp = reader.currentTimestamp();
        {
            std::lock_guard<std::mutex> lock(mutex);
            Slot& slot = slots[s % slots.size()];
            slot.step.detections[recording] = std::move(found);
            slot.step.timestamps[recording] = timestamp;
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
