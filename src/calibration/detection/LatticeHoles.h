#pragma once

#include "calibration/detection/LatticeScanlines.h"
#include "calibration/detection/PointImage.h"
#include "calibration/detection/Scanline3D.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tavorin {

// The steps of the lattice search that find the holes of a plate candidate once the plate's
// pixels are known.

// The fitted plate plane, in the image's coordinates (metres).
struct Plane {
    Vec4 normal; // unit, z <= 0
    Vec4 point;
};

// Per image row holding plate pixels (ascending), its first and last plate pixel.
std::vector<PixelRun> rowSpans(const std::vector<std::int32_t>& platePixels, std::int32_t width);

// The pixels off the plate but between plate pixels of one row, as runs in pixel order.
// platePixels ascending, as rowSpans takes them.
std::vector<std::shared_ptr<Scanline3D>> holeRuns(const std::vector<PixelRun>& spans,
                                                  const std::vector<std::int32_t>& platePixels, std::int32_t width);

// Joins hole runs of neighbouring rows whose column intervals overlap.
void clusterHoleRuns(const std::vector<std::shared_ptr<Scanline3D>>& runs, std::int32_t width);

Vec4 projectOntoPlane(const Vec4& p, const Plane& plane);

// The centre of every hole cluster that spans fewer than 20 rows, whose longest run is shorter
// than 20 pixels and which has more than 20 chord samples, in cluster order. A run's chord goes
// between the plate points just outside it, projected on the plane. Renumbers the roots'
// clusterId. Every run must be bounded by pixels of its own row on both sides.
std::vector<Vec4> holeCentres(const PointImage& image, const std::vector<std::shared_ptr<Scanline3D>>& runs,
                              const Plane& plane);

} // namespace tavorin
