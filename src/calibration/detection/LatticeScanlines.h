#pragma once

#include "calibration/detection/PointImage.h"
#include "calibration/detection/Scanline3D.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tavorin {

// The first steps of the lattice search, which find where holes break the rows of a point image.
// Each row is examined on its own, so that the search can spend its work on the rows that can
// hold the plate.

// A run of neighbouring pixels of one row, [start, end] as pixel indices.
struct PixelRun {
    std::int32_t start;
    std::int32_t end;
};

// Appends the runs of image row `row`: pixels whose neighbours lie closer than 0.05 m.
void splitRuns(const PointImage& image, std::int32_t row, std::vector<PixelRun>& runs);

// Appends the gaps among `runs` (in pixel order; a new row starts afresh) to `gaps`, each as
// [plate pixel before the hole, plate pixel after it]. A gap bridges a hole: from the last valid
// run of a row that already holds two valid runs to the next valid run, when the plate points on
// both sides lie closer than 0.045 m. A run is valid when its end points lie more than 0.035 and
// less than 0.35 m apart.
void findGaps(const PointImage& image, const std::vector<PixelRun>& runs, std::vector<PixelRun>& gaps);

// The gaps of the rows that can hold the plate, in pixel order. Every fourth row is searched; then,
// around every row that holds a gap, the rows as far as a gap that joins it (0.12 m, step 4) can
// lie, until no new gap turns up. So every gap cluster that reaches a fourth row is whole; left
// out are only clusters within three rows, which no plate makes. Without a gap in the fourth rows
// the image costs a quarter of a pass.
std::vector<PixelRun> gapsNearGaps(const PointImage& image);

Vec4 gapMidpoint(const PointImage& image, const Scanline3D& gap);

// Joins every pair of gaps whose midpoints lie closer than 0.12 m, in pair order.
void clusterGaps(const std::vector<std::shared_ptr<Scanline3D>>& gaps, const std::vector<Vec4>& midpoints);

} // namespace tavorin
