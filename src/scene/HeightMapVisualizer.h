#pragma once

#include "render/GLHandle.h"

#include <QOpenGLFunctions_3_3_Core>

#include <cstdint>
#include <memory>

namespace tavorin {

struct HeightMapRecord;
struct RenderContext;

// Draws every sample of a height map as a GL point with the process-wide height map program. Not
// a node of the tree: the scene sets the record and draws it once per frame. The vertex buffer is
// sized for the record's sample count and made again when a record of another size arrives.
// Render thread only.
class HeightMapVisualizer {
public:
    // Null is allowed: the next draw then reports that there is no height map.
    void setData(std::shared_ptr<HeightMapRecord> record) { data = std::move(record); }
    // Uploads the record's heights into the buffer and draws width x height points.
    void draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl);
    // Deletes the buffer in the current context; the next draw makes it again.
    void release(QOpenGLFunctions_3_3_Core* gl);

    std::int64_t bufferSamples() const { return vertexArray ? allocatedSamples : 0; }

private:
    void upload(QOpenGLFunctions_3_3_Core* gl, std::int64_t samples);

    GLBuffer vertexBuffer;
    GLVertexArray vertexArray;
    std::shared_ptr<HeightMapRecord> data;
    std::int64_t allocatedSamples = 0; // what the buffer was made for
};

} // namespace tavorin
