#include "acquisition/HDF5CameraProcessor.h"

#include "acquisition/HDF5RecordingReader.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include <chrono>

namespace tavorin {

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
    startClock = monotonicNs();
    playbackThread = std::thread(&HDF5CameraProcessor::playback, this);
}

HDF5CameraProcessor::~HDF5CameraProcessor()
{
    stopFlag.store(true);
    if (playbackThread.joinable())
        playbackThread.join();
}

// Playback thread. Sleeps briefly between passes (well below one frame period of 33 ms) so that
// a recording source does not keep a core busy.
void HDF5CameraProcessor::playback()
{
    constexpr auto kPassPause = std::chrono::microseconds(500);
    constexpr double kNsPerSecond = 1e9;
    HDF5RecordingReader::silenceLibraryErrors();
    while (!stopFlag.load()) {
        for (const std::shared_ptr<HDF5RecordingReader>& reader : readers) {
            const double t = static_cast<double>(monotonicNs() - startClock) / kNsPerSecond + startTimestamp;
            reader->seekToTime(t);
        }
        std::this_thread::sleep_for(kPassPause);
    }
    HDF5RecordingReader::clearLibraryErrors();
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
        record.sourceName = reader->fileName();
        record.configPath = reader->configPath();
        record.points = points;
        record.colors = reader->colors();
        record.hasPointCloud = true;
        record.hasColor = reader->colourEnabled();
        record.width = static_cast<std::int32_t>(reader->width());
        record.height = static_cast<std::int32_t>(reader->height());
        state.cameras.push_back(std::make_shared<DepthCameraData>(record));
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
