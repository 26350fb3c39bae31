#include "acquisition/CalibratedPoints.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavorin {

namespace {

constexpr float kMetresPerMm = 0.001f;

// Branch-free so that the loop vectorises; a NaN ray entry fails its self-comparison.
void convertEachPixel(const float* __restrict depthMm, const float* __restrict xyTable, std::size_t pixels,
                      float* __restrict points)
{
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

#if defined(__SSE2__)
// Four pixels per step with the same operations as convertEachPixel, so the same bits (-tx * z
// is the negated product). The old fourth floats are read only where one of the four pixels is
// invalid; the points are transposed in registers and written with four 16-byte stores. Returns
// the pixels done (a multiple of four); the caller converts the rest.
std::size_t convertFourPixelsAtATime(const float* depthMm, const float* xyTable, std::size_t pixels, float* points)
{
    constexpr int kAllValid = 0xF;
    const __m128 metresPerMm = _mm_set1_ps(kMetresPerMm);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 zero = _mm_setzero_ps();
    const std::size_t end = pixels - pixels % 4;
    for (std::size_t k = 0; k < end; k += 4) {
        const __m128 d = _mm_loadu_ps(depthMm + k);
        const __m128 xy01 = _mm_loadu_ps(xyTable + 2 * k);
        const __m128 xy23 = _mm_loadu_ps(xyTable + 2 * k + 4);
        const __m128 tx = _mm_shuffle_ps(xy01, xy23, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 ty = _mm_shuffle_ps(xy01, xy23, _MM_SHUFFLE(3, 1, 3, 1));
        const __m128 z = _mm_mul_ps(d, metresPerMm);
        const __m128 valid =
            _mm_and_ps(_mm_cmpneq_ps(d, zero), _mm_and_ps(_mm_cmpord_ps(tx, tx), _mm_cmpord_ps(ty, ty)));
        float* p = points + 4 * k;
        __m128 pw = one;
        if (_mm_movemask_ps(valid) != kAllValid) {
            const __m128 oldW = _mm_set_ps(p[15], p[11], p[7], p[3]);
            pw = _mm_or_ps(_mm_and_ps(valid, one), _mm_andnot_ps(valid, oldW));
        }
        __m128 px = _mm_and_ps(valid, _mm_mul_ps(_mm_xor_ps(tx, signBit), z));
        __m128 py = _mm_and_ps(valid, _mm_mul_ps(ty, z));
        __m128 pz = _mm_and_ps(valid, z);
        _MM_TRANSPOSE4_PS(px, py, pz, pw);
        _mm_storeu_ps(p, px);
        _mm_storeu_ps(p + 4, py);
        _mm_storeu_ps(p + 8, pz);
        _mm_storeu_ps(p + 12, pw);
    }
    return end;
}
#endif

} // namespace

void calibratedPoints(const float* depthMm, const float* xyTable, std::size_t pixels, float* points)
{
    std::size_t done = 0;
#if defined(__SSE2__)
    done = convertFourPixelsAtATime(depthMm, xyTable, pixels, points);
#endif
    convertEachPixel(depthMm + done, xyTable + 2 * done, pixels - done, points + 4 * done);
}

} // namespace tavorin
