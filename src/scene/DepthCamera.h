#pragma once

#include "math/Vec4.h"
#include "render/GLHandle.h"
#include "scene/Composite3D.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tavorin {

class Cube;
struct DepthCameraData;

// One depth camera in the room: a small body in the camera's colour with two dark lenses looking
// along -Z, a label with its index and name beside it, and the camera's current point cloud as
// coloured GL points, all placed by the node's world matrix (the record's model matrix). The scene
// reuses one node for every camera record and sets its appearance before each draw. Render thread
// only.
class DepthCamera : public Composite3D {
public:
    static constexpr float kLabelFontSize = 14.0f; // pixels per line

    // How one camera is shown.
    struct Appearance {
        Vec4 color{0.01f, 0.01f, 0.01f, 1.0f}; // the camera's own colour (RGB 0..1)
        std::string label;                      // drawn beside the body; empty: none
        bool cloudShown = true;                 // false: the cloud is not drawn and the body is dark
        bool colorByCamera = false;             // the cloud in the camera's colour, not the image's
        int labelLine = 0;                      // lines below its place: labels of cameras at one spot
    };

    DepthCamera();
    ~DepthCamera() override;

    void updateTransform(const RenderContext& context, const Mat4& parentWorld) override;
    void draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl) override;
    // Releases the body's meshes and the cloud's buffers, so that a new context builds them again.
    void release(QOpenGLFunctions_3_3_Core* gl) override;

    void setData(std::shared_ptr<DepthCameraData> record) { data = std::move(record); }
    void setAppearance(Appearance value);
    const Appearance& appearance() const { return look; }
    // The colour the body is drawn in: the camera's while its cloud is shown, dark otherwise.
    Vec4 bodyColor() const;

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
    void drawLabel(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl) const;

    std::shared_ptr<Cube> body;
    std::shared_ptr<DepthCameraData> data;
    Appearance look;
    PointCloudBuffers buffers;
};

} // namespace tavorin
