#include "SteppedRecordingSource.h"

#include "acquisition/DepthCameraData.h"
#include "acquisition/HDF5RecordingReader.h"
#include "app/SceneState.h"

#include <algorithm>
#include <cmath>

using tavorin::DepthCameraData, tavorin::HDF5RecordingReader, tavorin::Mat4, tavorin::SceneState;

bool SteppedRecordingSource::open(const std::vector<std::string>& paths)
{
    HDF5RecordingReader::silenceLibraryErrors();
    for (const std::string& path : paths) {
        auto reader = std::make_shared<HDF5RecordingReader>();
        if (!reader->open(path, false) || reader->frameCount() == 0 || !reader->loadFrame(0))
            return false;
        readers.push_back(reader);
    }
    return true;
}

double SteppedRecordingSource::startTime() const
{
    return readers.empty() ? 0.0 : readers.front()->timestampAt(0);
}

double SteppedRecordingSource::endTime() const
{
    double end = startTime();
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers)
        end = std::max(end, reader->timestampAt(reader->frameCount() - 1));
    return end;
}

void SteppedRecordingSource::step(double t)
{
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers)
        reader->seekToTime(t);
}

bool SteppedRecordingSource::framesTakenTogether(double t) const
{
    constexpr double kHalfFrameSeconds = 0.5 / 30.0;
    return std::all_of(readers.begin(), readers.end(), [t](const std::shared_ptr<HDF5RecordingReader>& reader) {
        return std::fabs(reader->currentTimestamp() - t) <= kHalfFrameSeconds;
    });
}

void SteppedRecordingSource::process(SceneState& state)
{
    state.cameras.clear();
    for (const std::shared_ptr<HDF5RecordingReader>& reader : readers) {
        auto record = std::make_shared<DepthCameraData>();
        record->modelMatrix = reader->modelMatrix();
        record->sourceName = reader->fileName();
        record->configPath = reader->configPath();
        record->points = reader->points();
        record->hasPointCloud = true;
        record->width = static_cast<std::int32_t>(reader->width());
        record->height = static_cast<std::int32_t>(reader->height());
        state.cameras.push_back(record);
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
