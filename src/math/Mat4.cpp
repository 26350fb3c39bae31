#include "math/Mat4.h"

#include "base/Console.h"

#include <cmath>
#include <sstream>

namespace tavorin {

Mat4::Mat4() : m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}

Mat4::Mat4(const float (&values)[16])
{
    for (int i = 0; i < 16; ++i)
        m[i] = values[i];
}

Mat4::Mat4(const std::array<float, 16>& values) : m(values) {}

Mat4::Mat4(std::vector<float>&& values) : Mat4()
{
    const std::vector<float> consumed = std::move(values);
    for (size_t i = 0; i < 16 && i < consumed.size(); ++i)
        m[i] = consumed[i];
}

Mat4 Mat4::fromAxes(const Vec4& xAxis, const Vec4& yAxis, const Vec4& zAxis, const Vec4& position)
{
    return Mat4({xAxis.x, xAxis.y, xAxis.z, 0.0f, yAxis.x, yAxis.y, yAxis.z, 0.0f, zAxis.x, zAxis.y,
                 zAxis.z, 0.0f, position.x, position.y, position.z, 1.0f});
}

Mat4 Mat4::operator*(const Mat4& b) const
{
    Mat4 r;
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
                sum += at(k, row) * b.at(c, k);
            r.at(c, row) = sum;
        }
    }
    return r;
}

Vec4 Mat4::operator*(const Vec4& v) const
{
    return Vec4(m[0] * v.x + m[4] * v.y + m[8] * v.z + m[12] * v.w,
                m[1] * v.x + m[5] * v.y + m[9] * v.z + m[13] * v.w,
                m[2] * v.x + m[6] * v.y + m[10] * v.z + m[14] * v.w,
                m[3] * v.x + m[7] * v.y + m[11] * v.z + m[15] * v.w);
}

Mat4 transpose(const Mat4& a)
{
    Mat4 r;
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row)
            r.at(c, row) = a.at(row, c);
    return r;
}

namespace {

// Cofactors of the 4 x 4 matrix in storage order; their dot product with column 0 is the
// determinant.
std::array<float, 16> cofactors(const Mat4& a)
{
    const auto& m = a.m;
    std::array<float, 16> inv;
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14]
        + m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14]
        - m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13]
        + m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13]
        - m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14]
        - m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14]
        + m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13]
        - m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13]
        + m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14]
        + m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14]
        - m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13]
        + m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13]
        - m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10]
        - m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10]
        + m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9]
        - m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9]
        + m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    return inv;
}

} // namespace

float determinant(const Mat4& a)
{
    const auto inv = cofactors(a);
    return a.m[0] * inv[0] + a.m[1] * inv[4] + a.m[2] * inv[8] + a.m[3] * inv[12];
}

Mat4 inverse(const Mat4& a)
{
    auto inv = cofactors(a);
    const float det = a.m[0] * inv[0] + a.m[1] * inv[4] + a.m[2] * inv[8] + a.m[3] * inv[12];
    if (det > -kSingularDeterminant && det < kSingularDeterminant)
        return Mat4();
    const float invDet = 1.0f / det;
    for (float& v : inv)
        v *= invDet;
    return Mat4(inv);
}

Mat4 translate(const Mat4& a, float x, float y, float z)
{
    Mat4 t;
    t.m[12] = x;
    t.m[13] = y;
    t.m[14] = z;
    return t * a;
}

Mat4 scale(const Mat4& a, float x, float y, float z)
{
    Mat4 s;
    s.m[0] = x;
    s.m[5] = y;
    s.m[10] = z;
    return s * a;
}

Mat4 rotate(const Mat4& a, float angle, int axis)
{
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    Mat4 r;
    switch (axis) {
    case AxisX:
        r.at(1, 1) = c;
        r.at(1, 2) = s;
        r.at(2, 1) = -s;
        r.at(2, 2) = c;
        break;
    case AxisY:
        r.at(0, 0) = c;
        r.at(0, 2) = -s;
        r.at(2, 0) = s;
        r.at(2, 2) = c;
        break;
    case AxisZ:
        r.at(0, 0) = c;
        r.at(0, 1) = s;
        r.at(1, 0) = -s;
        r.at(1, 1) = c;
        break;
    default:
        break;
    }
    return r * a;
}

namespace {

Mat4 directionFrame(const Vec4& d, const Vec4& up)
{
    if (approxEqual(d, up))
        return Mat4();
    const Vec4 s = normalize(cross(d, up));
    const Vec4 t = normalize(cross(d, s));
    return Mat4::fromAxes(d, s, t, Vec4::point(0.0f, 0.0f, 0.0f));
}

} // namespace

Mat4 alignDirection(const Vec4& from, const Vec4& to, const Vec4& up)
{
    return directionFrame(to, up) * inverse(directionFrame(from, up));
}

Mat4 lookAtModel(const Vec4& position, const Vec4& target, const Vec4& up)
{
    const Vec4 dir = normalize(target - position);
    const Mat4 r = alignDirection(Vec4::direction(0.0f, 0.0f, -1.0f), dir, up);
    return translate(r, position.x, position.y, position.z);
}

std::string formatMatrix(const std::string& label, const Mat4& a)
{
    std::ostringstream out;
    out << label << "\n";
    for (int row = 0; row < 4; ++row)
        out << a.at(0, row) << "\t" << a.at(1, row) << "\t" << a.at(2, row) << "\t" << a.at(3, row) << "\n";
    out << "\n";
    return out.str();
}

void print(const std::string& label, const Mat4& a)
{
    console::writeLines(console::Stream::Out, formatMatrix(label, a));
}

} // namespace tavorin
