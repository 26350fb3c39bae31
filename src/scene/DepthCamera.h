#pragma once

#include "render/GLHandle.h"
#include "scene/Composite3D.h"

#include <cstdint>
#include <memory>

namespace tavorin {

struct DepthCameraData;

// One depth camera in the room: a small dark body with two lenses looking along -Z, and the
// camera's current point cloud as coloured GL points, both placed by the node's world matrix (the
// record's model matrix). The scene reuses one node for every camera record. Render thread only.
class DepthCamera : public Composite3D {
public:
    DepthCamera();
    ~DepthCamera() override;

    void updateTransform(const RenderContext& context, const Mat4& parentWorld) override;
    void draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl) override;
    // Releases the body's meshes and the cloud's buffers, so that a new context builds them again.
    void release(QOpenGLFunctions_3_3_Core* gl) override;

    void setData(std::shared_ptr<DepthCameraData> record) { data = std::move(record); }

    // GPU buffers of the cloud, allocated once per resolution and refilled every draw.
    struct PointCloudBuffers {
        GLBuffer points;
        GLBuffer colors;
        GLVertexArray vertexArray;
        std::int32_t pointCount = 0; // what the buffers were made for

        bool uploaded() const { return static_cast<bool>(vertexArray); }
    };
    const PointCloudBuffers& pointCloudBuffers() const { return buffers; }

private:
    void upload(QOpenGLFunctions_3_3_Core* gl);
    void releaseCloudBuffers(QOpenGLFunctions_3_3_Core* gl);
    void drawPointCloud(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl);

    std::shared_ptr<DepthCameraData> data;
    PointCloudBuffers buffers;
};

} // namespace tavorin
