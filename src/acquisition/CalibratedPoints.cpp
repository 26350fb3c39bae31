#include "acquisition/CalibratedPoints.h"

#include <cmath>

void calibratedPoints(const float* depthMm, const float* xyTable, std::size_t pixels, float* points)
{
    for (std::size_t k = 0; k < pixels; ++k) {
        const float d = depthMm[k];
        const float tx = xyTable[2 * k];
        const float ty = xyTable[2 * k + 1];
        float* p = points + 4 * k;
        if (d == 0.0f || std::isnan(tx) || std::isnan(ty)) {
            p[0] = p[1] = p[2] = 0.0f;
            continue;
        }
        p[0] = tx * d / -1000.0f;
        p[1] = ty * d / 1000.0f;
        p[2] = d / 1000.0f;
        p[3] = 1.0f;
    }
}
