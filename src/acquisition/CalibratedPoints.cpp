#include "acquisition/CalibratedPoints.h"

void calibratedPoints(const float* __restrict depthMm, const float* __restrict xyTable, std::size_t pixels,
                      float* __restrict points)
{
    constexpr float kMetresPerMm = 0.001f;
    // Branch-free so that the loop vectorises; a NaN ray entry fails its self-comparison.
    for (std::size_t k = 0; k < pixels; ++k) {
        const float d = depthMm[k];
        const float tx = xyTable[2 * k];
        const float ty = xyTable[2 * k + 1];
        const float z = d * kMetresPerMm;
        const bool valid = (d != 0.0f) & (tx == tx) & (ty == ty);
        float* p = points + 4 * k;
        const float w = p[3];
        p[0] = valid ? -tx * z : 0.0f;
        p[1] = valid ? ty * z : 0.0f;
        p[2] = valid ? z : 0.0f;
        p[3] = valid ? 1.0f : w;
    }
}
