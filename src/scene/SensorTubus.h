#pragma once

#include "math/Vec4.h"
#include "scene/Cylinder.h"

#include <memory>

namespace tavorin {

class FloatTexture;
struct HeightMapRecord;

// The inner surface of a sensor tube, an open cup of radius 0.5 and depth 1 below the node origin
// (faces inward), lit by the light modules of its lights list with the sensor surface program:
// height map occlusion over the captured area around the sensor point, shadow-map occlusion, and
// a colour scale of the illuminance. The height map goes up as a new float texture at every draw
// and is deleted at the start of the next, so at most one exists. Render thread only.
class SensorTubus : public Cylinder {
public:
    static constexpr int kSegments = 128;
    static constexpr int kHeightMapUnit = 0;

    SensorTubus();
    ~SensorTubus() override;

    void initialize(QOpenGLFunctions_3_3_Core* gl) override;
    // Also deletes the height map texture of the last draw.
    void release(QOpenGLFunctions_3_3_Core* gl) override;
    void setExtraUniforms(QOpenGLFunctions_3_3_Core* gl, Shader& shader, const RenderContext& context) override;

    // Null allowed: then no height map occludes the light.
    void setLightTarget(std::shared_ptr<HeightMapRecord> record) { lightTarget = std::move(record); }
    void setSensorPoint(const Vec4& point) { sensorPoint = point; } // room coordinates, the tube opening

    const std::shared_ptr<FloatTexture>& currentHeightMapTexture() const { return heightMapTexture; }

private:
    void releaseHeightMapTexture(QOpenGLFunctions_3_3_Core* gl);
    void setLightModelUniforms(QOpenGLFunctions_3_3_Core* gl, Shader& shader) const;
    void bindHeightMap(QOpenGLFunctions_3_3_Core* gl, Shader& shader);

    std::shared_ptr<FloatTexture> heightMapTexture;
    std::shared_ptr<HeightMapRecord> lightTarget;
    Vec4 sensorPoint = Vec4::point(0.0f, 0.0f, 0.0f);
};

} // namespace tavorin
