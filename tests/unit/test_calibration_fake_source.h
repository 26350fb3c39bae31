#pragma once

#include "scene/DepthCameraData.h"
#include "scene/DepthCameraProcessor.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

// A depth source that only remembers the matrices it was given, in call order.
class MatrixRecordingSource : public tavorin::DepthCameraProcessor {
public:
    void process(tavorin::SceneState&) override { }
    void setModelMatrix(std::string name, const tavorin::Mat4& matrix) override
    {
        calls.emplace_back(std::move(name), matrix);
    }

    std::vector<std::pair<std::string, tavorin::Mat4>> calls;
};

inline std::shared_ptr<tavorin::DepthCameraData>
cameraRecord(const std::string& name, float* points, int width, int height,
             const tavorin::Mat4& modelMatrix = tavorin::Mat4::identity())
{
    auto record = std::make_shared<tavorin::DepthCameraData>();
    record->sourceName = name;
    record->points = points;
    record->width = width;
    record->height = height;
    record->hasPointCloud = points != nullptr;
    record->modelMatrix = modelMatrix;
    return record;
}
