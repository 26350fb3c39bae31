#include "acquisition/model/DepthToPoints.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavorin {

namespace {

constexpr float kMmPerMetre = 1000.0f;
constexpr float kMetresPerMm = 0.001f;

// The SDK's y points down: a table as the SDK gives it needs y negated, one that holds -y not.
float ySign(RayTableY y)
{
    return y == RayTableY::AsSdk ? -1.0f : 1.0f;
}

template <MetreScaling Scaling>
void scalePixel(float d, float tx, float ty, float yFlip, float* p)
{
    if constexpr (Scaling == MetreScaling::DivideProduct) {
        p[0] = d * tx / -kMmPerMetre;
        p[1] = d * ty / (yFlip * kMmPerMetre);
        p[2] = d / kMmPerMetre;
    } else {
        const float z = d * kMetresPerMm;
        p[0] = -tx * z;
        p[1] = (yFlip * ty) * z;
        p[2] = z;
    }
}

template <typename Depth, MetreScaling Scaling, FourthFloat Fourth>
void convertEachPixel(const Depth* depthMm, const float* rays, std::size_t pixels, float* points, RayTableY tableY)
{
    const float yFlip = ySign(tableY);
    for (std::size_t k = 0; k < pixels; ++k) {
        const float tx = rays[2 * k];
        const float ty = rays[2 * k + 1];
        const bool valid = isDepthMeasurement(static_cast<float>(depthMm[k])) && !std::isnan(tx) && !std::isnan(ty);
        float* p = points + 4 * k;
        if (valid)
            scalePixel<Scaling>(static_cast<float>(depthMm[k]), tx, ty, yFlip, p);
        else
            p[0] = p[1] = p[2] = 0.0f;
        if (Fourth == FourthFloat::Zero)
            p[3] = 0.0f;
        else if (valid)
            p[3] = 1.0f;
    }
}

#if defined(__SSE2__)
struct FourDepths {
    __m128 millimetres;
    __m128 missing; // all ones where the depth is no measurement (isDepthMeasurement)
};

FourDepths loadFour(const std::uint16_t* depthMm)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i depth = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(depthMm)), zero);
    return {_mm_cvtepi32_ps(depth), _mm_castsi128_ps(_mm_cmpeq_epi32(depth, zero))};
}

// Not at least 1 mm, or not at most the largest float: NaN fails both compares.
FourDepths loadFour(const float* depthMm)
{
    const __m128 depth = _mm_loadu_ps(depthMm);
    const __m128 belowOne = _mm_cmpnge_ps(depth, _mm_set1_ps(1.0f));
    const __m128 infinite = _mm_cmpnle_ps(depth, _mm_set1_ps(3.40282347e38f));
    return {depth, _mm_or_ps(belowOne, infinite)};
}

// 1 where the pixel is valid, the old fourth float where it is not (read only when one is not).
__m128 oneOrOld(__m128 drop, const float* p)
{
    constexpr int kNoneDropped = 0;
    const __m128 one = _mm_set1_ps(1.0f);
    if (_mm_movemask_ps(drop) == kNoneDropped)
        return one;
    const __m128 old = _mm_set_ps(p[15], p[11], p[7], p[3]);
    return _mm_or_ps(_mm_andnot_ps(drop, one), _mm_and_ps(drop, old));
}

struct FourPoints {
    __m128 x, y, z;
};

// scalePixel for four pixels; a sign flip is an exact negation, as in the scalar code.
template <MetreScaling Scaling>
FourPoints scaleFour(__m128 d, __m128 tx, __m128 ty, float yFlip)
{
    if constexpr (Scaling == MetreScaling::DivideProduct) {
        const __m128 xDiv = _mm_set1_ps(-kMmPerMetre);
        const __m128 yDiv = _mm_set1_ps(yFlip * kMmPerMetre);
        return {_mm_div_ps(_mm_mul_ps(d, tx), xDiv), _mm_div_ps(_mm_mul_ps(d, ty), yDiv),
                _mm_div_ps(d, _mm_set1_ps(kMmPerMetre))};
    } else {
        const __m128 signBit = _mm_set1_ps(-0.0f);
        const __m128 yFlipBit = yFlip < 0.0f ? signBit : _mm_setzero_ps();
        const __m128 z = _mm_mul_ps(d, _mm_set1_ps(kMetresPerMm));
        return {_mm_mul_ps(_mm_xor_ps(tx, signBit), z), _mm_mul_ps(_mm_xor_ps(ty, yFlipBit), z), z};
    }
}

// Four pixels per step with the operations of convertEachPixel; the points are transposed in
// registers and written with four 16-byte stores. Returns the pixels done (a multiple of four).
template <typename Depth, MetreScaling Scaling, FourthFloat Fourth>
std::size_t convertFourPixelsAtATime(const Depth* depthMm, const float* rays, std::size_t pixels, float* points,
                                     RayTableY tableY)
{
    const float yFlip = ySign(tableY);
    const std::size_t end = pixels - pixels % 4;
    for (std::size_t k = 0; k < end; k += 4) {
        const FourDepths d = loadFour(depthMm + k);
        const __m128 xy01 = _mm_loadu_ps(rays + 2 * k);
        const __m128 xy23 = _mm_loadu_ps(rays + 2 * k + 4);
        const __m128 tx = _mm_shuffle_ps(xy01, xy23, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 ty = _mm_shuffle_ps(xy01, xy23, _MM_SHUFFLE(3, 1, 3, 1));
        // Unordered: either ray entry is NaN (a quiet compare, exceptions stay masked).
        const __m128 drop = _mm_or_ps(d.missing, _mm_cmpunord_ps(tx, ty));
        const FourPoints scaled = scaleFour<Scaling>(d.millimetres, tx, ty, yFlip);
        float* p = points + 4 * k;
        __m128 px = _mm_andnot_ps(drop, scaled.x);
        __m128 py = _mm_andnot_ps(drop, scaled.y);
        __m128 pz = _mm_andnot_ps(drop, scaled.z);
        __m128 pw = Fourth == FourthFloat::Zero ? _mm_setzero_ps() : oneOrOld(drop, p);
        _MM_TRANSPOSE4_PS(px, py, pz, pw);
        _mm_storeu_ps(p, px);
        _mm_storeu_ps(p + 4, py);
        _mm_storeu_ps(p + 8, pz);
        _mm_storeu_ps(p + 12, pw);
    }
    return end;
}
#endif

template <typename Depth, MetreScaling Scaling, FourthFloat Fourth>
void convert(const Depth* depthMm, const float* rays, std::size_t pixels, float* points, RayTableY tableY)
{
    std::size_t done = 0;
#if defined(__SSE2__)
    done = convertFourPixelsAtATime<Depth, Scaling, Fourth>(depthMm, rays, pixels, points, tableY);
#endif
    convertEachPixel<Depth, Scaling, Fourth>(depthMm + done, rays + 2 * done, pixels - done, points + 4 * done,
                                             tableY);
}

template <typename Depth, MetreScaling Scaling>
void convertWithScaling(const Depth* depthMm, const float* rays, std::size_t pixels, float* points,
                        PointConvention convention)
{
    if (convention.fourth == FourthFloat::Zero)
        convert<Depth, Scaling, FourthFloat::Zero>(depthMm, rays, pixels, points, convention.tableY);
    else
        convert<Depth, Scaling, FourthFloat::OneWhereValid>(depthMm, rays, pixels, points, convention.tableY);
}

template <typename Depth>
void convertWith(const Depth* depthMm, const float* rays, std::size_t pixels, float* points,
                 PointConvention convention)
{
    if (convention.scaling == MetreScaling::DivideProduct)
        convertWithScaling<Depth, MetreScaling::DivideProduct>(depthMm, rays, pixels, points, convention);
    else
        convertWithScaling<Depth, MetreScaling::ScaleRay>(depthMm, rays, pixels, points, convention);
}

} // namespace

void depthToPoints(const std::uint16_t* depthMm, const float* rays, std::size_t pixels, float* points,
                   PointConvention convention)
{
    convertWith(depthMm, rays, pixels, points, convention);
}

void depthToPoints(const float* depthMm, const float* rays, std::size_t pixels, float* points,
                   PointConvention convention)
{
    convertWith(depthMm, rays, pixels, points, convention);
}

} // namespace tavorin
