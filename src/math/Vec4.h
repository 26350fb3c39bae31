#pragma once

namespace tavorin {

// Four floats; w = 1 marks a point, w = 0 a direction. Arithmetic keeps w within 0..1 so that
// point - point is a direction and point + direction a point.
struct Vec4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 1.0f;

    constexpr Vec4() = default;
    constexpr Vec4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

    static constexpr Vec4 point(float x, float y, float z) { return Vec4(x, y, z, 1.0f); }
    static constexpr Vec4 direction(float x, float y, float z) { return Vec4(x, y, z, 0.0f); }

    Vec4 operator-(const Vec4& b) const;
    Vec4 operator+(const Vec4& b) const;
    Vec4 operator*(float s) const { return Vec4(x * s, y * s, z * s, w); }
    Vec4 operator/(float s) const { return Vec4(x / s, y / s, z / s, w); }
    Vec4 operator-() const { return Vec4(-x, -y, -z, w); }

    // Exact comparison of all four components; a NaN component makes the vectors differ.
    bool operator!=(const Vec4& b) const;
    bool operator==(const Vec4& b) const { return !(*this != b); }
};

Vec4 cross(const Vec4& a, const Vec4& b);
float dot(const Vec4& a, const Vec4& b);
float length(const Vec4& a);
float lengthSquared(const Vec4& a);
float distance(const Vec4& a, const Vec4& b);

// Below this length a vector has no usable direction and normalises to the origin point.
constexpr float kNormalizeMinLength = 0.0004f;
Vec4 normalize(const Vec4& a);

// Component-wise tolerance of approxEqual (xyz only).
constexpr float kApproxEqualTolerance = 0.001f;
bool approxEqual(const Vec4& a, const Vec4& b);

} // namespace tavorin
