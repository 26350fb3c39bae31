#pragma once

#include "acquisition/DepthCameraData.h"
#include "acquisition/DepthCameraProcessor.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

// A depth source that only remembers the matrices it was given, in call order.
class MatrixRecordingSource : public DepthCameraProcessor {
public:
    void process(SceneState&) override {}
    void setModelMatrix(std::string name, const Mat4& matrix) override { calls.emplace_back(std::move(name), matrix); }

    std::vector<std::pair<std::string, Mat4>> calls;
};

inline std::shared_ptr<DepthCameraData> cameraRecord(const std::string& name, float* points, int width, int height,
                                                     const Mat4& modelMatrix = Mat4::identity())
{
    auto record = std::make_shared<DepthCameraData>();
    record->sourceName = name;
    record->points = points;
    record->width = width;
    record->height = height;
    record->hasPointCloud = points != nullptr;
    record->modelMatrix = modelMatrix;
    return record;
}
