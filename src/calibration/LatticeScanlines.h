#pragma once

#include "calibration/PointImage.h"
#include "calibration/Scanline3D.h"

#include <memory>
#include <vector>

// The first steps of the lattice search, which find where holes break the rows of a point image.

// A run of neighbouring pixels of one row, [start, end] as pixel indices.
struct PixelRun {
    std::int32_t start;
    std::int32_t end;
};

// Every row split into runs of pixels whose neighbours lie closer than 0.05 m, in pixel order.
std::vector<PixelRun> splitRuns(const PointImage& image);

// A gap bridges a hole: from the last valid run of a row that already holds two valid runs to the
// next valid run, when the plate points on both sides lie closer than 0.045 m. A run is valid when
// its end points lie more than 0.035 and less than 0.35 m apart.
std::vector<std::shared_ptr<Scanline3D>> findGaps(const PointImage& image, const std::vector<PixelRun>& runs);

Vec4 gapMidpoint(const PointImage& image, const Scanline3D& gap);

// Joins every pair of gaps whose midpoints lie closer than 0.12 m, in pair order.
void clusterGaps(const std::vector<std::shared_ptr<Scanline3D>>& gaps, const std::vector<Vec4>& midpoints);
