#include "SteppedRecordingSource.h"

#include "StepWatchdog.h"

#include "acquisition/recording/HDF5RecordingReader.h"
#include "acquisition/recording/ReaderRecord.h"
#include "calibration/cycle/WorkerPool.h"
#include "scene/DepthCameraData.h"
#include "scene/SceneState.h"

#include <algorithm>

using tavorin::DepthCameraData, tavorin::HDF5RecordingReader, tavorin::Mat4, tavorin::SceneState, tavorin::WorkerPool;

SteppedRecordingSource::SteppedRecordingSource() = default;
SteppedRecordingSource::~SteppedRecordingSource() = default;

// Opens the recordings one after another (their messages in order), then loads every first frame
// at once: the first load also builds the reader's pixel ray table.
bool SteppedRecordingSource::open(const std::vector<std::string>& paths)
{
    HDF5RecordingReader::silenceLibraryErrors();
    for (const std::string& path : paths) {
        auto reader = std::make_shared<HDF5RecordingReader>();
        StepWatchdog::doing(0, "opening " + path);
        if (!reader->open(path, false) || reader->frameCount() == 0)
            return false;
        readers.push_back(reader);
    }
    StepWatchdog::doing(0, "");
    loaders = std::make_unique<WorkerPool>(readers.size());
    std::vector<char> loaded(readers.size(), 0);
    loaders->run(readers.size(), [&](std::size_t i) {
        HDF5RecordingReader::silenceLibraryErrors();
        StepWatchdog::doing(i, "reading frame 0 of " + readers[i]->fileName());
        loaded[i] = readers[i]->loadFrame(0) ? 1 : 0;
        StepWatchdog::doing(i, "");
    });
    return std::all_of(loaded.begin(), loaded.end(), [](char ok) { return ok != 0; });
}

void SteppedRecordingSource::process(SceneState& state)
{
    state.cameras.clear();
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers)
        state.cameras.push_back(std::make_shared<DepthCameraData>(cameraRecordOf(*reader)));
}

void SteppedRecordingSource::setDepthCorrection(std::string name, const tavorin::DepthCorrection& correction)
{
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers) {
        if (reader->fileName() == name) {
            reader->setDepthCorrection(correction);
            return;
        }
    }
}

void SteppedRecordingSource::setModelMatrix(std::string name, const Mat4& matrix)
{
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers) {
        if (reader->fileName() == name) {
            reader->setModelMatrix(matrix);
            return;
        }
    }
}
