#include "scene/Cylinder.h"

#include <cmath>

namespace tavorin {

namespace {
constexpr float kTwoPi = 6.2831855f;
constexpr float kRadius = 0.5f;
constexpr float kBottomY = -1.0f;
constexpr float kTopY = 0.0f;
} // namespace

Cylinder::Cylinder(int segments, bool topCap, bool bottomCap, bool inverted)
{
    setName("Cylinder");
    const float mirror = inverted ? -1.0f : 1.0f;
    for (int i = 0; i < segments; ++i) {
        const float theta = static_cast<float>(i) / static_cast<float>(segments) * kTwoPi;
        const float x = std::sin(theta) * mirror * kRadius;
        const float z = std::cos(theta) * kRadius;
        positions().push_back(Vec4::point(x, kBottomY, z));
        positions().push_back(Vec4::point(x, kTopY, z));
    }
    for (int i = 0; i + 1 < segments; ++i) {
        Face side;
        side.positionIndices = {2 * i, 2 * i + 2, 2 * i + 3, 2 * i + 1};
        faces().push_back(side);
    }
    if (segments > 0) {
        Face last;
        last.positionIndices = {2 * segments - 2, 0, 1, 2 * segments - 1};
        faces().push_back(last);
    }
    if (bottomCap) {
        Face bottom;
        for (int i = segments - 1; i >= 0; --i)
            bottom.positionIndices.push_back(2 * i);
        faces().push_back(bottom);
    }
    if (topCap) {
        Face top;
        for (int i = 0; i < segments; ++i)
            top.positionIndices.push_back(2 * i + 1);
        faces().push_back(top);
    }
}

} // namespace tavorin
