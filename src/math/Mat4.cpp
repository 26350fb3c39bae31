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

// The three of 0..3 other than `skipped`, ascending.
std::array<int, 3> allBut(int skipped)
{
    std::array<int, 3> rest{};
    for (int i = 0, k = 0; i < 4; ++i)
        if (i != skipped)
            rest[k++] = i;
    return rest;
}

// Entry (column, row) of the adjugate: the cofactor of entry (row, column), the signed
// determinant of the 3 x 3 minor without column `row` and row `column`, as six triple products
// summed in a fixed order. The sign goes onto the first factor of each product, so that a zero
// cofactor keeps the sign it has always had.
float adjugateEntry(const Mat4& a, int column, int row)
{
    const auto [ca, cb, cc] = allBut(row);
    const auto [ra, rb, rc] = allBut(column);
    const float sign = (column + row) % 2 == 0 ? 1.0f : -1.0f;
    const float first = sign * a.at(ca, ra);
    const float second = sign * a.at(cb, ra);
    const float third = sign * a.at(cc, ra);
    return first * a.at(cb, rb) * a.at(cc, rc) - first * a.at(cb, rc) * a.at(cc, rb)
        - second * a.at(ca, rb) * a.at(cc, rc) + second * a.at(ca, rc) * a.at(cc, rb)
        + third * a.at(ca, rb) * a.at(cb, rc) - third * a.at(ca, rc) * a.at(cb, rb);
}

// Cofactors of the 4 x 4 matrix in storage order; their dot product with column 0 is the
// determinant.
std::array<float, 16> cofactors(const Mat4& a)
{
    std::array<float, 16> inv{};
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            inv[static_cast<std::size_t>(column * 4 + row)] = adjugateEntry(a, column, row);
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
    const Mat4 t({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1});
    return t * a;
}

Mat4 scale(const Mat4& a, float x, float y, float z)
{
    const Mat4 s({x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1});
    return s * a;
}

Mat4 rotate(const Mat4& a, float angle, int axis)
{
    // The plane each axis turns: column `from` turns toward `to`.
    struct Plane {
        int from;
        int to;
    };
    constexpr Plane kPlanes[] = {{1, 2}, {2, 0}, {0, 1}}; // AxisX, AxisY, AxisZ
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    Mat4 r;
    if (axis >= AxisX && axis <= AxisZ) {
        const Plane plane = kPlanes[axis];
        r.at(plane.from, plane.from) = c;
        r.at(plane.from, plane.to) = s;
        r.at(plane.to, plane.from) = -s;
        r.at(plane.to, plane.to) = c;
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
