#pragma once

#include "math/Mat4.h"

#include <cmath>

// Angle (degrees) of the rotation that carries a's rotation onto b's; atan2 keeps small angles
// exact where acos of the trace loses them to rounding.
inline float rotationErrorDegrees(const tavorin::Mat4& a, const tavorin::Mat4& b)
{
    const tavorin::Mat4 d = tavorin::transpose(a) * b;
    const float trace = d.at(0, 0) + d.at(1, 1) + d.at(2, 2);
    const float sx = d.at(1, 2) - d.at(2, 1);
    const float sy = d.at(2, 0) - d.at(0, 2);
    const float sz = d.at(0, 1) - d.at(1, 0);
    return std::atan2(std::sqrt(sx * sx + sy * sy + sz * sz), trace - 1.0f) * 180.0f / 3.14159265358979f;
}
