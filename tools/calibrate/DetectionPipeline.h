#pragma once

#include "base/NonCopyable.h"
#include "calibration/detection/LatticeDetectionResult.h"

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tavorin {
class HDF5RecordingReader;
} // namespace tavorin

// Loads and searches the recordings' frames ahead of the registration: one thread per recording
// loads its frame captured nearest to each step's time and searches it for the lattice, up to a few steps
// ahead of the caller, who takes the steps in order. The recordings thus decode and search
// continuously, each at its own pace, instead of meeting at a barrier twice per step, and the cores
// stay busy while the caller registers. A reader is touched by its own thread only until the
// pipeline is destroyed. One caller thread.
class DetectionPipeline : tavorin::NonCopyable {
public:
    struct Frame {
        double timestamp = 0.0;
        tavorin::LatticeDetectionResult detection;
    };
    struct Step {
        std::vector<tavorin::LatticeDetectionResult> detections; // per recording
        std::vector<double> timestamps;                           // of the frames searched
        // Per recording, in order, its frames between the one it searched for the previous step and
        // the one for this step, searched too: where the first recording missed a frame, another
        // camera's consecutive frames around a step's instant would otherwise never meet.
        std::vector<std::vector<Frame>> between;
        bool stopped = false; // a recording stopped playing
    };

    DetectionPipeline(std::vector<std::shared_ptr<tavorin::HDF5RecordingReader>> readers, std::vector<double> stepTimes);
    // Stops the threads after the step each is working on and joins them.
    ~DetectionPipeline();

    // The next step, once every recording has searched it.
    Step next();

private:
    struct Slot {
        Step step;
        std::size_t done = 0; // recordings that have filled their part
    };
    void run(std::size_t recording);

    const std::vector<std::shared_ptr<tavorin::HDF5RecordingReader>> readers;
    const std::vector<double> stepTimes;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Slot> slots;  // step s in slots[s % slots.size()], guarded by mutex
    std::size_t taken = 0;    // steps handed to the caller, guarded by mutex
    bool ending = false;      // guarded by mutex
    std::vector<std::thread> threads;
};
