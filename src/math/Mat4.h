#pragma once

#include "math/Vec4.h"

#include <array>
#include <string>
#include <vector>

namespace tavorin {

// 4 x 4 float matrix, column-major: element (column c, row r) is m[c * 4 + r]; the translation of
// an affine transform sits in m[12], m[13], m[14]. Uploaded to GL as stored.
// translate, rotate and scale multiply on the left: the new transform applies after M.
struct Mat4 {
    static constexpr int kTranslationColumn = 3;

    std::array<float, 16> m;

    Mat4(); // identity
    explicit Mat4(const float (&values)[16]);
    explicit Mat4(const std::array<float, 16>& values);
    // Takes the 16 values in storage order; the sequence is consumed (its storage released).
    explicit Mat4(std::vector<float>&& values);

    static Mat4 identity() { return Mat4(); }
    static Mat4 fromAxes(const Vec4& xAxis, const Vec4& yAxis, const Vec4& zAxis, const Vec4& position);

    float& at(int column, int row) { return m[column * 4 + row]; }
    float at(int column, int row) const { return m[column * 4 + row]; }
    const float* data() const { return m.data(); }
    Vec4 translation() const
    {
        return Vec4::point(at(kTranslationColumn, 0), at(kTranslationColumn, 1), at(kTranslationColumn, 2));
    }

    Mat4 operator*(const Mat4& b) const;
    Vec4 operator*(const Vec4& v) const;
    bool operator==(const Mat4& b) const { return m == b.m; }
    bool operator!=(const Mat4& b) const { return !(*this == b); }
};

enum Axis : int { AxisX = 0, AxisY = 1, AxisZ = 2 };

Mat4 transpose(const Mat4& a);
float determinant(const Mat4& a);
// Below this |determinant| a matrix counts as singular and inverts to the identity.
constexpr float kSingularDeterminant = 0.0001f;
Mat4 inverse(const Mat4& a);
Mat4 translate(const Mat4& a, float x, float y, float z);
Mat4 scale(const Mat4& a, float x, float y, float z);
// Angle in radians, counter-clockwise looking down the axis toward the origin. An axis other than
// 0, 1, 2 rotates by the identity.
Mat4 rotate(const Mat4& a, float angle, int axis);
// Rotation that carries the frame of direction `from` onto the frame of direction `to`.
Mat4 alignDirection(const Vec4& from, const Vec4& to, const Vec4& up);
// Model matrix of an object at `position` whose -Z axis points at `target`.
Mat4 lookAtModel(const Vec4& position, const Vec4& target, const Vec4& up);

// The label line, then the four rows (tab-separated, default float format), then an empty line,
// all on standard output.
void print(const std::string& label, const Mat4& a);
std::string formatMatrix(const std::string& label, const Mat4& a);

} // namespace tavorin
