#pragma once

#include "calibration/detection/PointImage.h"

#include <algorithm>
#include <cstdint>

namespace tavorin {

// A rectangle of an image's pixels: rows firstRow..lastRow and columns firstColumn..lastColumn,
// both inclusive. Empty until something is included.
struct PixelWindow {
    std::int32_t firstRow = 0;
    std::int32_t lastRow = -1;
    std::int32_t firstColumn = 0;
    std::int32_t lastColumn = -1;

    bool empty() const { return lastRow < firstRow || lastColumn < firstColumn; }
    void include(std::int32_t row, std::int32_t column)
    {
        if (empty()) {
            *this = PixelWindow{row, row, column, column};
            return;
        }
        firstRow = std::min(firstRow, row);
        lastRow = std::max(lastRow, row);
        firstColumn = std::min(firstColumn, column);
        lastColumn = std::max(lastColumn, column);
    }
    void includePixel(std::int32_t pixel, std::int32_t width) { include(pixel / width, pixel % width); }
};

// The window of the pixels that pass `test` (pixel index -> bool), found without testing every
// pixel of the image: it starts from `seed` and from the pixels of a grid of every fourth row and
// column that pass, then grows outward while a pixel on its border passes. So it holds every
// passing pixel that a chain of passing neighbours joins to the seed or to the grid; what it can
// miss are passing patches narrower than the grid that touch neither. Empty when neither the seed
// nor the grid holds a pixel. Costs a sixteenth of a pass over the image, plus the borders.
template <typename PixelTest>
PixelWindow windowAround(const PointImage& image, PixelWindow seed, const PixelTest& test)
{
    constexpr std::int32_t kGridStep = 4;
    PixelWindow window = seed;
    for (std::int32_t row = 0; row < image.height; row += kGridStep)
        for (std::int32_t column = 0; column < image.width; column += kGridStep)
            if (test(row * image.width + column))
                window.include(row, column);
    if (window.empty())
        return window;
    const auto rowPasses = [&](std::int32_t row) {
        for (std::int32_t column = window.firstColumn; column <= window.lastColumn; ++column)
            if (test(row * image.width + column))
                return true;
        return false;
    };
    const auto columnPasses = [&](std::int32_t column) {
        for (std::int32_t row = window.firstRow; row <= window.lastRow; ++row)
            if (test(row * image.width + column))
                return true;
        return false;
    };
    // Moves one border edge a grid step outward, not past `limit`, when the line on it passes.
    const auto pushOut = [](std::int32_t& edge, std::int32_t limit, std::int32_t step, const auto& linePasses) {
        const bool atLimit = step < 0 ? edge <= limit : edge >= limit;
        if (atLimit || !linePasses(edge))
            return false;
        edge = step < 0 ? std::max(limit, edge + step) : std::min(limit, edge + step);
        return true;
    };
    for (bool grown = true; grown;) {
        grown = pushOut(window.firstRow, 0, -kGridStep, rowPasses);
        grown |= pushOut(window.lastRow, image.height - 1, kGridStep, rowPasses);
        grown |= pushOut(window.firstColumn, 0, -kGridStep, columnPasses);
        grown |= pushOut(window.lastColumn, image.width - 1, kGridStep, columnPasses);
    }
    return window;
}

} // namespace tavorin
