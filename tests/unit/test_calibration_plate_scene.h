#pragma once

#include "calibration/detection/PointImage.h"
#include "math/Mat4.h"
#include "math/Vec4.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

// A synthetic depth camera looking at the calibration plate: 44 x 44 cm, 5 x 5 round holes of 4 cm
// at an 8 cm pitch, a 4 cm wide handle on the +a edge reaching 38 cm from the centre hole. The
// camera frame is the system's (x to the image's left, y up, z along the view); pixels whose ray
// misses the plate stay (0, 0, 0), as an out-of-range measurement does.
struct PlatePose {
    tavorin::Vec4 centre = tavorin::Vec4::point(0.0f, 0.0f, 1.5f);
    tavorin::Vec4 a = tavorin::Vec4::direction(1.0f, 0.0f, 0.0f); // toward the handle
    tavorin::Vec4 b = tavorin::Vec4::direction(0.0f, 1.0f, 0.0f);

    tavorin::Vec4 normal() const { return tavorin::normalize(tavorin::cross(a, b)); }
    // Turned by `angle` radians about the camera axis `axis` (0 x, 1 y, 2 z).
    PlatePose turned(float angle, int axis) const
    {
        const tavorin::Mat4 r = tavorin::rotate(tavorin::Mat4::identity(), angle, axis);
        return PlatePose{centre, r * a, r * b};
    }
};

struct PlateScene {
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 576;
    static constexpr float kFocal = 504.0f;
    static constexpr float kCx = 320.0f;
    static constexpr float kCy = 288.0f;
    static constexpr float kHalfPlate = 0.22f;
    static constexpr float kHoleRadius = 0.02f;
    static constexpr float kPitch = 0.08f;
    static constexpr float kHandleEnd = 0.38f;
    static constexpr float kHandleHalfWidth = 0.02f;

    std::vector<float> points = std::vector<float>(kWidth * kHeight * 3, 0.0f);
    int holesAlongA = 5;     // odd counts centre the lattice on the plate centre
    int holesAlongB = 5;
    bool withHandle = true;

    tavorin::PointImage image() const { return tavorin::PointImage{points.data(), kWidth, kHeight}; }

    bool onPlate(float a, float b) const
    {
        const float halfA = kHalfPlate + static_cast<float>(holesAlongA - 5) * kPitch / 2.0f;
        const float halfB = kHalfPlate + static_cast<float>(holesAlongB - 5) * kPitch / 2.0f;
        if (withHandle && std::fabs(b) <= kHandleHalfWidth && a > halfA && a <= halfA + kHandleEnd - kHalfPlate)
            return true;
        if (std::fabs(a) > halfA || std::fabs(b) > halfB)
            return false;
        const float ha = std::round(a / kPitch);
        const float hb = std::round(b / kPitch);
        if (std::fabs(ha) > static_cast<float>(holesAlongA / 2) || std::fabs(hb) > static_cast<float>(holesAlongB / 2))
            return true;
        const float da = a - ha * kPitch;
        const float db = b - hb * kPitch;
        return da * da + db * db > kHoleRadius * kHoleRadius;
    }

    // Ray of pixel (column, row) at unit depth.
    static tavorin::Vec4 ray(int column, int row)
    {
        return tavorin::Vec4::direction(-(static_cast<float>(column) - kCx) / kFocal,
                                        -(static_cast<float>(row) - kCy) / kFocal, 1.0f);
    }

    // Renders the plate with depth noise (metres, along the ray) from a fixed seed. A noise-free
    // plate is too flat for the detector: its gap cluster must have some extent along the normal.
    void renderPlate(const PlatePose& pose, float sigma = 0.0015f, unsigned seed = 1)
    {
        std::mt19937 random(seed);
        std::normal_distribution<float> noise(0.0f, sigma > 0.0f ? sigma : 1.0f);
        const tavorin::Vec4 n = pose.normal();
        for (int row = 0; row < kHeight; ++row) {
            for (int column = 0; column < kWidth; ++column) {
                const tavorin::Vec4 d = ray(column, row);
                const float denominator = tavorin::dot(d, n);
                if (std::fabs(denominator) < 1e-6f)
                    continue;
                const float t = tavorin::dot(pose.centre - tavorin::Vec4::point(0, 0, 0), n) / denominator;
                const tavorin::Vec4 p = d * t;
                const tavorin::Vec4 offset = tavorin::Vec4::point(p.x, p.y, p.z) - pose.centre;
                if (t <= 0.0f || !onPlate(tavorin::dot(offset, pose.a), tavorin::dot(offset, pose.b)))
                    continue;
                const float depth = t + (sigma > 0.0f ? noise(random) : 0.0f);
                set(row * kWidth + column, d * depth);
            }
        }
    }

    // Fills every pixel the plate left empty with a wall facing the camera at `depth` metres.
    void renderWallBehind(float depth)
    {
        for (int row = 0; row < kHeight; ++row)
            for (int column = 0; column < kWidth; ++column)
                if (points[(static_cast<std::size_t>(row) * kWidth + column) * 3 + 2] == 0.0f)
                    set(row * kWidth + column, ray(column, row) * depth);
    }

    void set(int pixel, const tavorin::Vec4& p)
    {
        points[static_cast<std::size_t>(pixel) * 3 + 0] = p.x;
        points[static_cast<std::size_t>(pixel) * 3 + 1] = p.y;
        points[static_cast<std::size_t>(pixel) * 3 + 2] = p.z;
    }

    // The true centre of grid hole (row i along a, column k along b), i, k in 0..4.
    static tavorin::Vec4 holeCentre(const PlatePose& pose, int i, int k)
    {
        return pose.centre + pose.a * (static_cast<float>(i - 2) * kPitch) + pose.b * (static_cast<float>(k - 2) * kPitch);
    }
};
