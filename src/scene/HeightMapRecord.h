#pragma once

#include "math/Mat4.h"

#include <cstdint>

namespace tavorin {

// A grid of heights over the captured area above the operating field. The grid frame has its
// origin at the centre of the area, x along a row, z across the rows and y up; a sample's value is
// its y in that frame, metres. Sample (column c, row r) sits at
// x = ((c + 0.5) / width - 0.5) * areaWidth, z = ((r + 0.5) / height - 0.5) * areaHeight.
// As the light target of a sensor tube the grid is read in room axes, centred on the tube opening,
// so a light target's transform is the translation to the opening's (x, 0, z).
struct HeightMapRecord {
    std::int32_t id = 0;
    Mat4 transform;                 // grid frame -> room
    const float* heights = nullptr; // width x height floats, row by row; owned by whoever fills the record
    std::int32_t width = 0;         // samples per row
    std::int32_t height = 0;        // rows
    float areaWidth = 0.0f;         // metres covered along a row
    float areaHeight = 0.0f;        // metres covered across the rows

    // True when the record describes at least one sample that can be read.
    bool hasSamples() const { return heights && width > 0 && height > 0; }
};

} // namespace tavorin
