#include "acquisition/recording/ReaderRecord.h"

#include "acquisition/recording/HDF5RecordingReader.h"

namespace tavorin {

DepthCameraData cameraRecordOf(HDF5RecordingReader& reader)
{
    DepthCameraData record;
    record.modelMatrix = reader.modelMatrix();
    record.depthCorrection = reader.depthCorrection();
    record.removedDepthCorrection = reader.removedDepthCorrection();
    record.sourceName = reader.fileName();
    record.configPath = reader.configPath();
    record.frameId = reader.rosFrameId();
    record.points = reader.points();
    record.colors = reader.colors();
    record.hasPointCloud = true;
    record.hasColor = reader.colourEnabled();
    record.width = static_cast<std::int32_t>(reader.width());
    record.height = static_cast<std::int32_t>(reader.height());
    record.timestamp = reader.currentTimestamp();
    return record;
}

} // namespace tavorin
