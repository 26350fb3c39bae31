#pragma once

#include "math/DepthCorrection.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavorin {

// What a camera saw of the room that stayed still while it was calibrated: per pixel the median
// depth over the recording, with the pixels whose depth changed (the plate, people) left out. The
// moved-camera check compares a later view with it. Depths are the z of each pixel's point in the
// camera's own frame (millimetres, 0: none), as the sensor measured them: the depth correction
// stored with the calibration is not removed, and is kept here only to say which it was.
struct StillViewReference {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<float> depthMm; // width * height, rows from the top
    std::string storedAt;       // local date, "2026-12-10"
    DepthCorrection depthCorrection;
    std::int32_t frames = 0;    // frames the median was taken over
};

// The file beside a model-matrix file: "<stem>.still.bin" for "<stem>.json"; empty for an empty
// path.
std::string stillViewReferencePath(const std::string& modelMatrixPath);

// Writes the file as configuration files are written (atomically, the replaced content kept as a
// dated copy) and prints "Stored still view reference to <path>". The file is one line of JSON
// (format, date, correction, size, unit) followed by the depths as a 16-bit PNG in quarter
// millimetres (the body of a "16UC1; compressedDepth png" image). A reference whose size does not
// match its depths, that holds no depth, or depths beyond 16 m, is refused on standard error
// ("Unable to write still view reference <path>: <reason>") and false returned.
bool writeStillViewReference(const std::string& path, const StillViewReference& reference);

enum class ReferenceRead { Read, Missing, Refused };

// Reads the file into `reference`. Missing: nothing at the path; Refused: `why` says what is wrong
// with it (not this format, a damaged image, a size other than `width` x `height` when those are
// above 0). Nothing is printed: the caller says what the camera then cannot do.
ReferenceRead loadStillViewReference(const std::string& path, std::int32_t width, std::int32_t height,
                                     StillViewReference& reference, std::string& why);

// Today's local date as references store it ("2026-12-10").
std::string referenceDate();

} // namespace tavorin
