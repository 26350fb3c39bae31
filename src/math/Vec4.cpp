#include "math/Vec4.h"

#include <algorithm>
#include <cmath>

namespace tavorin {

Vec4 Vec4::operator-(const Vec4& b) const
{
    return Vec4(x - b.x, y - b.y, z - b.z, std::max(0.0f, w - b.w));
}

Vec4 Vec4::operator+(const Vec4& b) const
{
    return Vec4(x + b.x, y + b.y, z + b.z, std::min(1.0f, w + b.w));
}

bool Vec4::operator!=(const Vec4& b) const
{
    return !(x == b.x && y == b.y && z == b.z && w == b.w);
}

Vec4 cross(const Vec4& a, const Vec4& b)
{
    return Vec4(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0.0f);
}

float dot(const Vec4& a, const Vec4& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

float lengthSquared(const Vec4& a)
{
    return a.x * a.x + a.y * a.y + a.z * a.z;
}

float length(const Vec4& a)
{
    return std::sqrt(lengthSquared(a));
}

float distance(const Vec4& a, const Vec4& b)
{
    return length(Vec4(a.x - b.x, a.y - b.y, a.z - b.z, 0.0f));
}

Vec4 normalize(const Vec4& a)
{
    const float len = length(a);
    if (len < kNormalizeMinLength)
        return Vec4::point(0.0f, 0.0f, 0.0f);
    return Vec4(a.x / len, a.y / len, a.z / len, 0.0f);
}

bool approxEqual(const Vec4& a, const Vec4& b)
{
    return std::fabs(a.x - b.x) < kApproxEqualTolerance && std::fabs(a.y - b.y) < kApproxEqualTolerance
        && std::fabs(a.z - b.z) < kApproxEqualTolerance;
}

} // namespace tavorin
