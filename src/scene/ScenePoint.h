#pragma once

#include "scene/Cube.h"

namespace tavorin {

// A small cube drawn in one flat colour with a program of its own ("shaders/color.*"); no
// material, shadow or light uniforms.
class ScenePoint : public Cube {
public:
    ScenePoint();

    void initialize(QOpenGLFunctions_3_3_Core* gl) override;
    void draw(const RenderContext& context, QOpenGLFunctions_3_3_Core* gl) override;

    void setPointColor(float r, float g, float b);

private:
    float red = 1.0f;
    float green = 0.0f;
    float blue = 0.0f;
};

} // namespace tavorin
