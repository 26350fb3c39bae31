#pragma once

#include "calibration/detection/LatticeDetectionResult.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavorin {

// Where one camera has seen the plate in its image: a grid of kColumns x kRows cells, each counting
// the frames in which a hole of the plate fell in it. The holes are in camera coordinates; the
// camera's projection is fitted once from its point image (each pixel's point lies on that
// pixel's ray), which places them to within a few pixels, ample for cells of about 80 pixels.
class PlateCoverage {
public:
    static constexpr int kColumns = 8;
    static constexpr int kRows = 6;

    // Fits the projection from a point image of width x height (4 floats a pixel, metres; zeros or
    // NaN where there is no depth) when none was fitted for that size yet; false when the image
    // holds too few points to fit one.
    bool fitProjection(const float* points, int width, int height);
    bool hasProjection() const { return fitted; }
    // Counts one frame's plate in the cells its holes fall in (each cell once per frame).
    void add(const LatticeDetectionResult& detection);

    // Row-major, kColumns * kRows counts.
    const std::vector<std::uint32_t>& cells() const { return counts; }
    // The share of cells in which the plate has been seen, 0 to 1.
    double coveredShare() const;

private:
    bool fitted = false;
    int imageWidth = 0;
    int imageHeight = 0;
    double fx = 0.0, cx = 0.0, fy = 0.0, cy = 0.0; // pixel = c + f * (x / z)
    std::vector<std::uint32_t> counts = std::vector<std::uint32_t>(kColumns * kRows, 0);
};

} // namespace tavorin
