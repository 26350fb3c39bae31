#include "math/DepthCorrection.h"

#include <cmath>

namespace tavorin {

namespace {

constexpr double kMmPerMetre = 1000.0;

} // namespace

void DepthCorrection::removeFrom(float* points, std::size_t count) const
{
    if (isIdentity())
        return;
    const double offsetM = offsetMm / kMmPerMetre;
    const double inverseGain = 1.0 / (1.0 + scale);
    for (std::size_t k = 0; k < count; ++k) {
        float* p = points + 4 * k;
        const double range = std::sqrt(double(p[0]) * p[0] + double(p[1]) * p[1] + double(p[2]) * p[2]);
        if (!(range > 0.0))
            continue;
        const double factor = (range - offsetM) * inverseGain / range;
        p[0] = static_cast<float>(p[0] * factor);
        p[1] = static_cast<float>(p[1] * factor);
        p[2] = static_cast<float>(p[2] * factor);
    }
}

void DepthCorrection::addTo(float& x, float& y, float& z) const
{
    if (isIdentity())
        return;
    const double range = std::sqrt(double(x) * x + double(y) * y + double(z) * z);
    if (!(range > 0.0))
        return;
    const double factor = ((1.0 + scale) * range + offsetMm / kMmPerMetre) / range;
    x = static_cast<float>(x * factor);
    y = static_cast<float>(y * factor);
    z = static_cast<float>(z * factor);
}

} // namespace tavorin
