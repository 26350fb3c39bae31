#include "network/codec/RvlCodec.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#define TAVORIN_RVL_AVX2 1
// Compiled for AVX2, BMI1, BMI2 and POPCNT whatever the build's baseline; called only after
// vectorKernels() has found them on the running processor.
#define TAVORIN_TARGET_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))
// The same and AVX-512 with byte permutes and compression (F, BW, VL, VBMI, VBMI2); called only
// after wideKernels() has found them.
#define TAVORIN_TARGET_AVX512                                                                                   \
    __attribute__((target("avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2")))
// Around the AVX-512 code: GCC's AVX-512 headers start some intrinsics from a register left
// undefined on purpose, which its warnings about uninitialised values report at every caller.
#if defined(__clang__)
#define TAVORIN_AVX512_BEGIN
#define TAVORIN_AVX512_END
#else
#define TAVORIN_AVX512_BEGIN                                                                                    \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")                        \
        _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define TAVORIN_AVX512_END _Pragma("GCC diagnostic pop")
#endif
#endif

namespace tavorin {

namespace {

// The stream: codes of 3-bit groups, one group a nibble, bit 3 set while more groups follow.
constexpr unsigned kGroupBits = 3;
constexpr std::uint8_t kGroupMask = 0x7;
constexpr std::uint8_t kMoreGroups = 0x8;
constexpr unsigned kMaxGroups = 11; // 33 bits, enough for any 32-bit value
constexpr std::size_t kNibblesPerWord = 8;
constexpr std::size_t kBytesPerWord = 4;

// 2 d for a difference d >= 0, -2 d - 1 below (without a branch: the signs are random).
std::uint32_t zigZag(std::uint16_t current, std::uint16_t previous)
{
    const std::int32_t delta = std::int32_t{current} - std::int32_t{previous};
    const std::uint32_t sign = delta < 0 ? ~0u : 0u;
    return static_cast<std::uint32_t>(delta) << 1 ^ sign;
}

// The zig-zagged difference added to `previous`, modulo 2^16.
std::uint16_t unZigZag(std::uint32_t code, std::uint16_t previous)
{
    const std::uint32_t delta = (code >> 1) ^ (0u - (code & 1u));
    return static_cast<std::uint16_t>(previous + delta);
}

// The fastest kernels allowed (limitRvlKernels).
std::atomic<int> allowedKernels{static_cast<int>(RvlKernels::Avx512)};

[[maybe_unused]] bool allowed(RvlKernels kernels)
{
    return allowedKernels.load(std::memory_order_relaxed) >= static_cast<int>(kernels);
}

#if TAVORIN_RVL_AVX2

// Whether the AVX2 kernels may run, asked of the processor once. They code blocks of 16 depths
// whose differences fit in two nibbles and decode 32 nibbles a step; all else, and processors
// without them, take the plain code, to the same bytes and depths.
bool vectorKernels()
{
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2")
            && __builtin_cpu_supports("popcnt");
    }();
    return supported && allowed(RvlKernels::Avx2);
}

// Whether the AVX-512 kernels may run as well. They code blocks of 32 depths and decode 64
// nibbles a step, with the same limits as the AVX2 ones.
bool wideKernels()
{
    static const bool supported = [] {
        __builtin_cpu_init();
        return vectorKernels() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
            && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi")
            && __builtin_cpu_supports("avx512vbmi2");
    }();
    return supported && allowed(RvlKernels::Avx512);
}

using Bytes16 = std::array<std::uint8_t, 16>;
constexpr std::uint8_t kZeroLane = 0x80; // a byte shuffle index that yields 0

TAVORIN_TARGET_AVX2 __m128i load(const Bytes16& bytes)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data()));
}

// Two table rows as the two halves of one register.
TAVORIN_TARGET_AVX2 __m256i loadPair(const Bytes16& low, const Bytes16& high)
{
    return _mm256_inserti128_si256(_mm256_castsi128_si256(load(low)), load(high), 1);
}

#else

bool vectorKernels()
{
    return false;
}

bool wideKernels()
{
    return false;
}

#endif

// ---- Encoding. Codes go out one nibble a byte (0..15, stream order) into a chunk that is packed
// into words when it fills.

constexpr std::size_t kChunkNibbles = 4096;
constexpr std::size_t kMaxDeltaNibbles = 6; // a zig-zagged 16-bit difference has 17 bits

// The code of `value` at `out`; returns its end. Writes a byte past the end of a one-nibble code.
std::uint8_t* writeCode(std::uint8_t* out, std::uint32_t value)
{
    constexpr std::uint32_t kTwoNibbleCodes = 64;
    if (value < kTwoNibbleCodes) { // most differences: one or two nibbles, without a branch
        const bool two = value > kGroupMask;
        out[0] = static_cast<std::uint8_t>((value & kGroupMask) | (two ? kMoreGroups : 0));
        out[1] = static_cast<std::uint8_t>(value >> kGroupBits);
        return out + 1 + (two ? 1 : 0);
    }
    do {
        std::uint8_t nibble = value & kGroupMask;
        value >>= kGroupBits;
        if (value)
            nibble |= kMoreGroups;
        *out++ = nibble;
    } while (value);
    return out;
}

// Eight nibbles to the word's four little-endian bytes, the first nibble on top.
void packWord(const std::uint8_t* nibbles, std::uint8_t* bytes)
{
    for (std::size_t byte = 0; byte < kBytesPerWord; ++byte) {
        const std::size_t first = kNibblesPerWord - 2 - 2 * byte;
        bytes[byte] = static_cast<std::uint8_t>(nibbles[first] << 4 | nibbles[first + 1]);
    }
}

#if TAVORIN_RVL_AVX2

TAVORIN_TARGET_AVX2 void packWordsAvx2(const std::uint8_t* nibbles, std::size_t words, std::uint8_t* bytes)
{
    // Four words of nibbles, each in the order its bytes take them (6 7 4 5 2 3 0 1), then each
    // pair to one byte as 16 * first + second.
    const __m256i wordOrder = _mm256_setr_epi8(6, 7, 4, 5, 2, 3, 0, 1, 14, 15, 12, 13, 10, 11, 8, 9, //
                                               6, 7, 4, 5, 2, 3, 0, 1, 14, 15, 12, 13, 10, 11, 8, 9);
    const __m256i firstTimes16 = _mm256_set1_epi16(0x0110);
    constexpr std::size_t kWords = 4;
    std::size_t word = 0;
    for (; word + kWords <= words; word += kWords) {
        const __m256i ordered = _mm256_shuffle_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(nibbles + word * kNibblesPerWord)), wordOrder);
        const __m256i pairs = _mm256_maddubs_epi16(ordered, firstTimes16);
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(pairs, pairs), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + word * kBytesPerWord), _mm256_castsi256_si128(packed));
    }
    for (; word < words; ++word)
        packWord(nibbles + word * kNibblesPerWord, bytes + word * kBytesPerWord);
}

TAVORIN_AVX512_BEGIN

// packWordsAvx2() eight words a step, each 16-bit pair narrowed to its byte.
TAVORIN_TARGET_AVX512 void packWordsAvx512(const std::uint8_t* nibbles, std::size_t words, std::uint8_t* bytes)
{
    const __m512i wordOrder =
        _mm512_broadcast_i32x4(_mm_setr_epi8(6, 7, 4, 5, 2, 3, 0, 1, 14, 15, 12, 13, 10, 11, 8, 9));
    const __m512i firstTimes16 = _mm512_set1_epi16(0x0110);
    constexpr std::size_t kWords = 8;
    std::size_t word = 0;
    for (; word + kWords <= words; word += kWords) {
        const __m512i ordered = _mm512_shuffle_epi8(_mm512_loadu_si512(nibbles + word * kNibblesPerWord), wordOrder);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(bytes + word * kBytesPerWord),
                            _mm512_cvtepi16_epi8(_mm512_maddubs_epi16(ordered, firstTimes16)));
    }
    for (; word < words; ++word)
        packWord(nibbles + word * kNibblesPerWord, bytes + word * kBytesPerWord);
}

TAVORIN_AVX512_END

#endif

void packWords(const std::uint8_t* nibbles, std::size_t words, std::uint8_t* bytes)
{
#if TAVORIN_RVL_AVX2
    if (wideKernels())
        return packWordsAvx512(nibbles, words, bytes);
    if (vectorKernels())
        return packWordsAvx2(nibbles, words, bytes);
#endif
    for (std::size_t word = 0; word < words; ++word)
        packWord(nibbles + word * kNibblesPerWord, bytes + word * kBytesPerWord);
}

// Collects nibbles and appends them to `out` as whole words, a chunk at a time.
class NibbleWriter {
public:
    // Nibbles that room() leaves free at least.
    static constexpr std::size_t kRoom = 1024;

    explicit NibbleWriter(std::vector<std::uint8_t>& out_) : out(out_) {}

    // Where the next nibble goes; commit() takes the end of what was written there.
    std::uint8_t* room()
    {
        if (count > kChunkNibbles - kRoom)
            flushWholeWords();
        return nibbles.data() + count;
    }
    void commit(const std::uint8_t* end) { count = static_cast<std::size_t>(end - nibbles.data()); }

    void putCode(std::uint32_t value) { commit(writeCode(room(), value)); }

    // The last word, padded with zero nibbles.
    void finish()
    {
        const std::size_t padded = (count + kNibblesPerWord - 1) / kNibblesPerWord * kNibblesPerWord;
        std::fill(nibbles.begin() + static_cast<std::ptrdiff_t>(count),
                  nibbles.begin() + static_cast<std::ptrdiff_t>(padded), std::uint8_t{0});
        count = padded;
        flushWholeWords();
    }

private:
    void flushWholeWords()
    {
        const std::size_t words = count / kNibblesPerWord;
        const std::size_t start = out.size();
        out.resize(start + words * kBytesPerWord);
        packWords(nibbles.data(), words, out.data() + start);
        const std::size_t packed = words * kNibblesPerWord;
        std::copy(nibbles.begin() + static_cast<std::ptrdiff_t>(packed),
                  nibbles.begin() + static_cast<std::ptrdiff_t>(count), nibbles.begin());
        count -= packed;
    }

    std::vector<std::uint8_t>& out;
    std::array<std::uint8_t, kChunkNibbles> nibbles;
    std::size_t count = 0;
};

// How many of the first `pixels` depths are 0 (`zero`) or are not.
template <bool zero>
std::size_t runLength(const std::uint16_t* depthMm, std::size_t pixels)
{
    std::size_t at = 0;
    while (at < pixels && (depthMm[at] == 0) == zero)
        ++at;
    return at;
}

#if TAVORIN_RVL_AVX2

// -1 in the lanes of the 16 depths that are 0.
TAVORIN_TARGET_AVX2 __m256i zeroLanes(const std::uint16_t* depthMm)
{
    return _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(depthMm)), _mm256_setzero_si256());
}

// runLength() 64 depths a step while the run goes on, then 16 to find where it ends.
template <bool zero>
TAVORIN_TARGET_AVX2 std::size_t runLengthAvx2(const std::uint16_t* depthMm, std::size_t pixels)
{
    constexpr std::uint32_t kGoesOn = zero ? ~0u : 0u;
    std::size_t at = 0;
    for (; at + 64 <= pixels; at += 64) {
        const std::uint16_t* const p = depthMm + at;
        const __m256i lanes = zero ? _mm256_and_si256(_mm256_and_si256(zeroLanes(p), zeroLanes(p + 16)),
                                                      _mm256_and_si256(zeroLanes(p + 32), zeroLanes(p + 48)))
                                   : _mm256_or_si256(_mm256_or_si256(zeroLanes(p), zeroLanes(p + 16)),
                                                     _mm256_or_si256(zeroLanes(p + 32), zeroLanes(p + 48)));
        if (static_cast<std::uint32_t>(_mm256_movemask_epi8(lanes)) != kGoesOn)
            break;
    }
    for (; at + 16 <= pixels; at += 16) {
        const std::uint32_t lanes = static_cast<std::uint32_t>(_mm256_movemask_epi8(zeroLanes(depthMm + at)));
        if (lanes != kGoesOn)
            return at + _tzcnt_u32(zero ? ~lanes : lanes) / 2;
    }
    return at + runLength<zero>(depthMm + at, pixels - at);
}

#endif

// The codes of `length` non-zero depths after `previous`, written at `out`; returns their end.
std::uint8_t* writeDeltas(std::uint8_t* out, const std::uint16_t* run, std::size_t length, std::uint16_t previous)
{
    for (std::size_t k = 0; k < length; ++k) {
        out = writeCode(out, zigZag(run[k], previous));
        previous = run[k];
    }
    return out;
}

// The codes of a run of non-zero depths after `previous`; returns the run's last depth.
std::uint16_t putDeltas(NibbleWriter& writer, const std::uint16_t* run, std::size_t length, std::uint16_t previous)
{
    constexpr std::size_t kBatch = NibbleWriter::kRoom / kMaxDeltaNibbles; // depths whose codes fit the room
    for (std::size_t k = 0; k < length; k += kBatch) {
        writer.commit(writeDeltas(writer.room(), run + k, std::min(kBatch, length - k), previous));
        previous = run[std::min(k + kBatch, length) - 1];
    }
    return previous;
}

// Writes the length and the codes of the run of non-zero depths, after `previous`, that begins
// the `pixels` depths; returns the length and leaves the run's last depth in `previous`.
std::size_t putNonZeroRun(NibbleWriter& writer, const std::uint16_t* depthMm, std::size_t pixels,
                          std::uint16_t& previous)
{
    const std::size_t length = runLength<false>(depthMm, pixels);
    writer.putCode(static_cast<std::uint32_t>(length));
    previous = putDeltas(writer, depthMm, length, previous);
    return length;
}

#if TAVORIN_RVL_AVX2

// Encoder: of eight 16-bit lanes (first nibble, second nibble), every first nibble and the second
// nibbles of the lanes whose bit is set in the index, packed to the front.
constexpr auto kPairCompaction = [] {
    std::array<Bytes16, 256> table{};
    for (unsigned twoNibbles = 0; twoNibbles < 256; ++twoNibbles) {
        unsigned out = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            table[twoNibbles][out++] = static_cast<std::uint8_t>(2 * lane);
            if (twoNibbles >> lane & 1u)
                table[twoNibbles][out++] = static_cast<std::uint8_t>(2 * lane + 1);
        }
        for (; out < 16; ++out)
            table[twoNibbles][out] = kZeroLane;
    }
    return table;
}();

constexpr std::size_t kSixteen = 16;

constexpr std::size_t kStoreOvershoot = 32; // bytes a block of codes may store past its end

// The codes of the first `kept` of the 16 non-zero depths `current` after their predecessors
// `before` when each of those differences lies within +-31 (codes of one or two nibbles): returns
// the end of what it wrote, null when a difference is larger. The codes of the first `written`
// depths are those that end at `out`: they are written again, over themselves. Stores 32 bytes
// from there. Inlined into each caller, which GCC declines on its own.
[[gnu::always_inline]] inline TAVORIN_TARGET_AVX2 std::uint8_t* putDeltasOfSixteen(__m256i current, __m256i before,
                                                                                 std::uint8_t* out,
                                                                                 std::uint32_t written,
                                                                                 std::uint32_t kept)
{
    constexpr short kBeyondTwoNibbles = ~31;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i rise = _mm256_subs_epu16(current, before);
    const __m256i fall = _mm256_subs_epu16(before, current);
    const __m256i distance = _mm256_or_si256(rise, fall);
    const __m256i keptLanes =
        kept == kSixteen ? _mm256_set1_epi16(-1)
                         : _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<short>(kept)),
                                              _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    if (!_mm256_testz_si256(_mm256_and_si256(distance, keptLanes), _mm256_set1_epi16(kBeyondTwoNibbles)))
        return nullptr;
    // 2 |d| where d >= 0, 2 |d| - 1 where d < 0; notFalling is -1 where d >= 0.
    const __m256i notFalling = _mm256_cmpeq_epi16(fall, zero);
    const __m256i code =
        _mm256_sub_epi16(_mm256_sub_epi16(_mm256_add_epi16(distance, distance), _mm256_set1_epi16(1)), notFalling);
    const __m256i twoNibbles = _mm256_cmpgt_epi16(code, _mm256_set1_epi16(kGroupMask));
    const __m256i first = _mm256_or_si256(_mm256_and_si256(code, _mm256_set1_epi16(kGroupMask)),
                                          _mm256_and_si256(twoNibbles, _mm256_set1_epi16(kMoreGroups)));
    const __m256i lanes = _mm256_or_si256(first, _mm256_slli_epi16(_mm256_srli_epi16(code, kGroupBits), 8));
    // Bits 0..7: lanes of the low half with two nibbles; bits 16..23: the high half's.
    const std::uint32_t twoMask =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(twoNibbles, zero)));
    const std::uint32_t lowTwo = twoMask & 0xFFu;
    const std::uint32_t highTwo = twoMask >> 16 & 0xFFu;
    std::uint8_t* const start =
        out - written - static_cast<std::size_t>(_mm_popcnt_u32((lowTwo | highTwo << 8) & ((1u << written) - 1)));
    const __m256i packed =
        _mm256_shuffle_epi8(lanes, loadPair(kPairCompaction[lowTwo], kPairCompaction[highTwo]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(start), _mm256_castsi256_si128(packed));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(start + kSixteen / 2 + _mm_popcnt_u32(lowTwo)),
                     _mm256_extracti128_si256(packed, 1));
    return start + kept + static_cast<std::size_t>(_mm_popcnt_u32((lowTwo | highTwo << 8) & ((1u << kept) - 1)));
}

TAVORIN_TARGET_AVX2 __m256i loadSixteen(const std::uint16_t* depthMm)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(depthMm));
}

// The predecessors of the 16 depths `current` when `previous` precedes the first: the lanes moved
// up by one across the halves (the depth before the first may lie before the frame).
TAVORIN_TARGET_AVX2 __m256i predecessors(__m256i current, std::uint16_t previous)
{
    return _mm256_or_si256(_mm256_alignr_epi8(current, _mm256_permute2x128_si256(current, current, 0x08), 14),
                           _mm256_zextsi128_si256(_mm_cvtsi32_si128(previous)));
}

TAVORIN_TARGET_AVX2 std::uint16_t putDeltasAvx2(NibbleWriter& writer, const std::uint16_t* run, std::size_t length,
                                                std::uint16_t previous)
{
    constexpr std::size_t kMaxBlockNibbles = kSixteen * kMaxDeltaNibbles;
    // Depths whose codes, a last partial block's and the stores' overshoot surely fit in the
    // writer's room.
    constexpr std::size_t kBatch =
        (NibbleWriter::kRoom - kStoreOvershoot - kMaxBlockNibbles) / kMaxBlockNibbles * kSixteen;
    std::size_t k = 0;
    while (length - k >= kSixteen) {
        std::uint8_t* out = writer.room();
        const std::size_t batchEnd = k + std::min(length - k, kBatch) / kSixteen * kSixteen;
        for (; k < batchEnd; k += kSixteen) {
            const __m256i current = loadSixteen(run + k);
            const __m256i before = k > 0 ? loadSixteen(run + k - 1) : predecessors(current, previous);
            std::uint8_t* end = putDeltasOfSixteen(current, before, out, 0, kSixteen);
            out = end ? end : writeDeltas(out, run + k, kSixteen, previous);
            previous = run[k + kSixteen - 1];
        }
        if (length - k < kSixteen && k < length) {
            // The run's last 16 depths, of which the first ones are written already.
            const std::uint32_t written = static_cast<std::uint32_t>(kSixteen - (length - k));
            std::uint8_t* end = putDeltasOfSixteen(loadSixteen(run + length - kSixteen),
                                                   loadSixteen(run + length - kSixteen - 1), out, written, kSixteen);
            out = end ? end : writeDeltas(out, run + k, length - k, previous);
            previous = run[length - 1];
            k = length;
        }
        writer.commit(out);
    }
    return putDeltas(writer, run + k, length - k, previous);
}

// putNonZeroRun() with AVX2. A run shorter than 16 depths is coded as one block when 16 depths
// can be read, of which it keeps the run's.
TAVORIN_TARGET_AVX2 std::size_t putNonZeroRunAvx2(NibbleWriter& writer, const std::uint16_t* depthMm,
                                                  std::size_t pixels, std::uint16_t& previous)
{
    const std::size_t length = runLengthAvx2<false>(depthMm, pixels);
    writer.putCode(static_cast<std::uint32_t>(length));
    if (length == 0 || length >= kSixteen || pixels < kSixteen) {
        previous = putDeltasAvx2(writer, depthMm, length, previous);
        return length;
    }
    std::uint8_t* out = writer.room();
    const __m256i current = loadSixteen(depthMm);
    std::uint8_t* end =
        putDeltasOfSixteen(current, predecessors(current, previous), out, 0, static_cast<std::uint32_t>(length));
    writer.commit(end ? end : writeDeltas(out, depthMm, length, previous));
    previous = depthMm[length - 1];
    return length;
}

TAVORIN_AVX512_BEGIN

// Codes the 32 non-zero depths `current` (the lanes of `kept`; 0 in the others) after their
// predecessors `before` (0 outside `kept` too) when each difference lies within +-31: returns
// the end of what it wrote, null when a difference is larger. Stores 64 bytes from `out`.
[[gnu::always_inline]] inline TAVORIN_TARGET_AVX512 std::uint8_t* putDeltasOfThirtyTwo(__m512i current,
                                                                                     __m512i before,
                                                                                     std::uint32_t kept,
                                                                                     std::uint8_t* out)
{
    const __m512i distance = _mm512_or_si512(_mm512_subs_epu16(current, before), _mm512_subs_epu16(before, current));
    if (_mm512_test_epi16_mask(distance, _mm512_set1_epi16(~31)))
        return nullptr;
    // 2 |d|, less 1 where d < 0.
    const __m512i twice = _mm512_add_epi16(distance, distance);
    const __m512i code =
        _mm512_mask_sub_epi16(twice, _mm512_cmpgt_epu16_mask(before, current), twice, _mm512_set1_epi16(1));
    // Each lane as its two nibbles, the first in the low byte: the low group, and the high group
    // above it (0 for a one-nibble code).
    const __m512i groups =
        _mm512_ternarylogic_epi32(_mm512_slli_epi16(code, 8 - kGroupBits), code, _mm512_set1_epi16(0x0707), 0xA8);
    const std::uint32_t two = _mm512_cmpgt_epu16_mask(code, _mm512_set1_epi16(kGroupMask));
    const __m512i lanes = _mm512_mask_add_epi16(groups, two, groups, _mm512_set1_epi16(kMoreGroups));
    // Every first nibble of the kept lanes and the second nibbles of the two-nibble codes.
    constexpr std::uint64_t kFirstBytes = 0x5555555555555555u;
    const std::uint64_t firsts = kept == ~0u ? kFirstBytes : _pdep_u64(kept, kFirstBytes);
    const std::uint64_t nibbles = firsts | _pdep_u64(two, ~kFirstBytes);
    _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(nibbles, lanes));
    return out + _mm_popcnt_u64(nibbles);
}

// putDeltasAvx2() 32 depths a step, the run's last ones through masks.
TAVORIN_TARGET_AVX512 std::uint16_t putDeltasAvx512(NibbleWriter& writer, const std::uint16_t* run,
                                                    std::size_t length, std::uint16_t previous)
{
    constexpr std::size_t kBlock = 32;
    constexpr std::size_t kStore = 64;
    // Room that a block surely fits in: its codes or its 64-byte store.
    constexpr std::size_t kBlockRoom = std::max(kBlock * kMaxDeltaNibbles + 1, kStore);
    static_assert(NibbleWriter::kRoom >= 2 * kBlockRoom, "a chunk's room holds a block");
    std::uint8_t* out = writer.room();
    std::uint8_t* limit = out + (NibbleWriter::kRoom - kBlockRoom);
    // The predecessors of the first block: the depths moved up a lane, `previous` in lane 0.
    const __m512i upOne = _mm512_set_epi16(30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12,
                                           11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 0);
    for (std::size_t k = 0; k < length; k += kBlock) {
        if (out > limit) {
            writer.commit(out);
            out = writer.room();
            limit = out + (NibbleWriter::kRoom - kBlockRoom);
        }
        const std::size_t count = std::min(kBlock, length - k);
        const std::uint32_t kept = _bzhi_u32(~0u, static_cast<unsigned>(count));
        const __m512i current = _mm512_maskz_loadu_epi16(kept, run + k);
        const __m512i before =
            k > 0 ? _mm512_maskz_loadu_epi16(kept, run + k - 1)
                  : _mm512_mask_permutexvar_epi16(_mm512_maskz_set1_epi16(1, static_cast<short>(previous)),
                                                  kept & ~1u, upOne, current);
        const std::uint16_t last = k > 0 ? run[k - 1] : previous;
        std::uint8_t* const end = putDeltasOfThirtyTwo(current, before, kept, out);
        out = end ? end : writeDeltas(out, run + k, count, last);
    }
    writer.commit(out);
    return length > 0 ? run[length - 1] : previous;
}

TAVORIN_TARGET_AVX512 std::size_t putNonZeroRunAvx512(NibbleWriter& writer, const std::uint16_t* depthMm,
                                                      std::size_t pixels, std::uint16_t& previous)
{
    const std::size_t length = runLengthAvx2<false>(depthMm, pixels);
    writer.putCode(static_cast<std::uint32_t>(length));
    previous = putDeltasAvx512(writer, depthMm, length, previous);
    return length;
}

TAVORIN_AVX512_END

#endif

// ---- Decoding, from the words in place.

// The nibbles of the whole words among `size` bytes.
struct NibbleStream {
    NibbleStream(const std::uint8_t* data, std::size_t size)
        : bytes(data), nibbles(size / kBytesPerWord * kNibblesPerWord)
    {
    }

    unsigned nibbleAt(std::size_t index) const
    {
        const std::uint8_t byte =
            bytes[index / kNibblesPerWord * kBytesPerWord + kBytesPerWord - 1 - index % kNibblesPerWord / 2];
        return index % 2 ? byte & 0xFu : byte >> 4;
    }

    // False when the stream ends inside the code or the code needs more than 32 bits.
    bool readCode(std::uint32_t& value)
    {
        std::uint64_t wide = 0;
        for (unsigned group = 0; group < kMaxGroups; ++group) {
            if (at == nibbles)
                return false;
            const unsigned nibble = nibbleAt(at++);
            wide |= static_cast<std::uint64_t>(nibble & kGroupMask) << (kGroupBits * group);
            if (!(nibble & kMoreGroups)) {
                value = static_cast<std::uint32_t>(wide);
                return wide <= std::numeric_limits<std::uint32_t>::max();
            }
        }
        return false;
    }

    const std::uint8_t* bytes;
    std::size_t nibbles;
    std::size_t at = 0; // the next nibble to read
};

// The next code of a run of non-zero depths, added to `previous` and stored.
bool readDelta(NibbleStream& stream, std::uint16_t& previous, std::uint16_t* depthMm)
{
    std::uint32_t code = 0;
    if (!stream.readCode(code))
        return false;
    previous = unZigZag(code, previous);
    *depthMm = previous;
    return true;
}

bool readDeltas(NibbleStream& stream, std::uint16_t* run, std::size_t length, const std::uint16_t*,
                std::uint16_t& previous)
{
    for (std::size_t k = 0; k < length; ++k)
        if (!readDelta(stream, previous, run + k))
            return false;
    return true;
}

// A run of deltas read by a vector kernel: whole blocks as far as it goes, then the one code that
// stopped it (a long one, or the end of the stream or output near) on its own, and on.
using ReadBlocks = std::size_t (*)(NibbleStream&, std::uint16_t*, std::size_t, const std::uint16_t*, std::uint16_t&);
template <ReadBlocks readBlocks>
bool readDeltasInBlocks(NibbleStream& stream, std::uint16_t* run, std::size_t length, const std::uint16_t* outputEnd,
                        std::uint16_t& previous)
{
    while (length > 0) {
        const std::size_t decoded = readBlocks(stream, run, length, outputEnd, previous);
        run += decoded;
        length -= decoded;
        if (length == 0)
            break;
        if (!readDelta(stream, previous, run))
            return false;
        ++run;
        --length;
    }
    return true;
}

#if TAVORIN_RVL_AVX2

// Decoder tables, for a byte of code ends (bit i: a code ends at nibble i of the byte): the
// positions of the set bits in rising order, each as the low byte of a 16-bit lane whose high
// byte is zeroed. The low table leaves 0 after them, so that the high byte's lanes can be or-ed
// in after its own; the high table adds 8 and zeroes the lanes after them.
constexpr auto kLowEndLanes = [] {
    std::array<Bytes16, 256> table{};
    for (unsigned ends = 0; ends < 256; ++ends) {
        unsigned lane = 0;
        for (unsigned position = 0; position < 8; ++position)
            if (ends >> position & 1u) {
                table[ends][2 * lane] = static_cast<std::uint8_t>(position);
                table[ends][2 * lane + 1] = kZeroLane;
                ++lane;
            }
    }
    return table;
}();
constexpr auto kHighEndLanes = [] {
    std::array<Bytes16, 256> table{};
    for (unsigned ends = 0; ends < 256; ++ends) {
        unsigned lane = 0;
        for (unsigned position = 0; position < 8; ++position)
            if (ends >> position & 1u) {
                table[ends][2 * lane] = static_cast<std::uint8_t>(8 + position);
                table[ends][2 * lane + 1] = kZeroLane;
                ++lane;
            }
        for (unsigned byte = 2 * lane; byte < 16; ++byte)
            table[ends][byte] = kZeroLane;
    }
    return table;
}();

// Byte shuffles of the high table's lanes, indexed by the count of codes before them: up by that
// many lanes (zero bytes coming in, for the or), and down by 8 minus that many (byte 15 coming in,
// the high byte of lane 7, which is always kZeroLane).
constexpr auto kLanesUp = [] {
    std::array<Bytes16, 9> table{};
    for (unsigned lanes = 0; lanes <= 8; ++lanes)
        for (unsigned byte = 0; byte < 16; ++byte)
            table[lanes][byte] = byte >= 2 * lanes ? static_cast<std::uint8_t>(byte - 2 * lanes) : kZeroLane;
    return table;
}();
constexpr auto kLanesDownToNinth = [] {
    std::array<Bytes16, 9> table{};
    for (unsigned lanes = 0; lanes <= 8; ++lanes)
        for (unsigned byte = 0; byte < 16; ++byte) {
            const unsigned from = byte + 16 - 2 * lanes;
            table[lanes][byte] = static_cast<std::uint8_t>(from < 16 ? from : 15);
        }
    return table;
}();

// Lane 7 of each half in all lanes of that half.
TAVORIN_TARGET_AVX2 __m256i broadcastLane7(__m256i lanes)
{
    const __m256i lane7 = _mm256_setr_epi8(14, 15, 14, 15, 14, 15, 14, 15, 14, 15, 14, 15, 14, 15, 14, 15, //
                                           14, 15, 14, 15, 14, 15, 14, 15, 14, 15, 14, 15, 14, 15, 14, 15);
    return _mm256_shuffle_epi8(lanes, lane7);
}

// The running sums of the eight lanes of each half, modulo 2^16: within each group of four by
// shifts inside 64 bits, which leave the shuffle unit free, then lane 3 into lanes 4..7.
TAVORIN_TARGET_AVX2 __m256i runningSumsOfHalves(__m256i lanes)
{
    const __m256i lane3Up = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 6, 7, 6, 7, 6, 7, 6, 7, //
                                             -1, -1, -1, -1, -1, -1, -1, -1, 6, 7, 6, 7, 6, 7, 6, 7);
    __m256i sums = _mm256_add_epi16(lanes, _mm256_slli_epi64(lanes, 16));
    sums = _mm256_add_epi16(sums, _mm256_slli_epi64(sums, 32));
    return _mm256_add_epi16(sums, _mm256_shuffle_epi8(sums, lane3Up));
}

// Zig-zag codes to differences, in 16-bit lanes.
TAVORIN_TARGET_AVX2 __m256i unZigZag16(__m256i codes)
{
    return _mm256_xor_si256(_mm256_srli_epi16(codes, 1),
                            _mm256_sub_epi16(_mm256_setzero_si256(), _mm256_and_si256(codes, _mm256_set1_epi16(1))));
}

// Decodes the codes that end at the bits of `ends` among the 32 `nibbles` (stream order, one a
// byte; `lastBlock` the 32 before them) into depths after `base` (the last depth, in every lane),
// stored from `out`, and moves `base` on. No code may be longer than two nibbles. Stores 32 depths.
[[gnu::always_inline]] inline TAVORIN_TARGET_AVX2 void decodeBlock(__m256i nibbles, __m256i lastBlock,
                                                                   std::uint32_t ends, __m256i& base,
                                                                   std::uint16_t* out)
{
    // At each nibble, the value of a code ending there: its group, above the group before it
    // when that one has a group after it.
    const __m256i groupMask = _mm256_set1_epi8(static_cast<char>(kGroupMask));
    const __m256i groups = _mm256_and_si256(nibbles, groupMask);
    const __m256i before = _mm256_alignr_epi8(nibbles, _mm256_permute2x128_si256(nibbles, lastBlock, 0x03), 15);
    const __m256i joined =
        _mm256_or_si256(_mm256_slli_epi16(groups, kGroupBits), _mm256_and_si256(before, groupMask));
    // The blend takes the top bit of each byte: the flag of the nibble before, moved up.
    const __m256i values = _mm256_blendv_epi8(groups, joined, _mm256_slli_epi16(before, 4));
    // The codes of each half in its order: the first eight in `first`, the others in `ninth`, a
    // 16-bit lane each, 0 after the last (a 0 code adds nothing).
    const unsigned ends0 = ends & 0xFFu, ends1 = ends >> 8 & 0xFFu;
    const unsigned ends2 = ends >> 16 & 0xFFu, ends3 = ends >> 24;
    const unsigned count0 = static_cast<unsigned>(_mm_popcnt_u32(ends0));
    const unsigned count2 = static_cast<unsigned>(_mm_popcnt_u32(ends2));
    const __m256i highLanes = loadPair(kHighEndLanes[ends1], kHighEndLanes[ends3]);
    const __m256i firstGather =
        _mm256_or_si256(loadPair(kLowEndLanes[ends0], kLowEndLanes[ends2]),
                        _mm256_shuffle_epi8(highLanes, loadPair(kLanesUp[count0], kLanesUp[count2])));
    const __m256i ninthGather =
        _mm256_shuffle_epi8(highLanes, loadPair(kLanesDownToNinth[count0], kLanesDownToNinth[count2]));
    __m256i first = runningSumsOfHalves(unZigZag16(_mm256_shuffle_epi8(values, firstGather)));
    __m256i ninth = runningSumsOfHalves(unZigZag16(_mm256_shuffle_epi8(values, ninthGather)));
    // Sums through each half, then the low half's total into the high half; all relative to the
    // depth before the block, so that only one addition waits for the block before.
    ninth = _mm256_add_epi16(ninth, broadcastLane7(first));
    const __m256i halfTotals = broadcastLane7(ninth);
    const __m256i lowTotal = _mm256_permute2x128_si256(halfTotals, halfTotals, 0x08);
    first = _mm256_add_epi16(_mm256_add_epi16(first, lowTotal), base);
    ninth = _mm256_add_epi16(_mm256_add_epi16(ninth, lowTotal), base);
    const __m256i blockTotal = _mm256_add_epi16(halfTotals, lowTotal);
    base = _mm256_add_epi16(base, _mm256_permute2x128_si256(blockTotal, blockTotal, 0x11));

    const std::size_t lowCount = static_cast<std::size_t>(_mm_popcnt_u32(ends & 0xFFFFu));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(first));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm256_castsi256_si128(ninth));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + lowCount), _mm256_extracti128_si256(first, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + lowCount + 8), _mm256_extracti128_si256(ninth, 1));
}

// Decodes codes of a run of non-zero depths from the stream's position on, 32 nibbles (four
// words) at a time at fixed steps from the word that holds that position, for as long as no code
// is longer than two nibbles, the run goes on and a block and 32 depths fit before the ends of
// stream and output. Returns how many depths it decoded and leaves the stream at the first code
// it did not decode.
TAVORIN_TARGET_AVX2 std::size_t readBlocksOfDeltas(NibbleStream& stream, std::uint16_t* run, std::size_t length,
                                                   const std::uint16_t* outputEnd, std::uint16_t& previous)
{
    constexpr std::size_t kBlockNibbles = 32;
    // Each byte twice, in stream order, then the high nibble from the first copy and the low
    // nibble from the second.
    const __m256i streamOrder = _mm256_setr_epi8(3, 3, 2, 2, 1, 1, 0, 0, 7, 7, 6, 6, 5, 5, 4, 4, //
                                                 11, 11, 10, 10, 9, 9, 8, 8, 15, 15, 14, 14, 13, 13, 12, 12);
    const __m256i highOfFirst = _mm256_set1_epi16(0x000F);
    const __m256i lowOfSecond = _mm256_set1_epi16(0x0F00);

    const std::uint8_t* const bytes = stream.bytes;
    const std::size_t streamNibbles = stream.nibbles;
    const std::size_t outputRoom = static_cast<std::size_t>(outputEnd - run);
    std::size_t block = stream.at / kNibblesPerWord * kNibblesPerWord;
    // Nibbles of the first block before the position, of codes read already.
    std::uint32_t alreadyRead = (1u << (stream.at - block)) - 1;
    std::uint32_t carried = 0; // 1 when the last block's final nibble began a code
    __m256i lastBlock = _mm256_setzero_si256();
    __m256i base = _mm256_set1_epi16(static_cast<short>(previous)); // the last depth, in every lane
    std::size_t decoded = 0;
    while (block + kBlockNibbles <= streamNibbles && outputRoom - decoded >= kBlockNibbles) {
        const __m256i twice = _mm256_shuffle_epi8(
            _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + block / 2))),
            streamOrder);
        const __m256i nibbles = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(twice, 4), highOfFirst),
                                                _mm256_and_si256(twice, lowOfSecond));
        // Bit i: nibble i has a group after it; a bit in `third` marks the third nibble of a code.
        const std::uint32_t more =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(nibbles, 4))) & ~alreadyRead;
        const std::uint32_t third = more & (more << 1 | carried);
        const std::uint32_t ends = ~(more | alreadyRead);
        const std::size_t count = static_cast<std::size_t>(_mm_popcnt_u32(ends));
        if (third || count > length - decoded) {
            // The codes before a longer one, or up to the run's end; then the stream goes on at
            // the first code not taken.
            const std::uint32_t firstThird = _blsi_u32(third);
            std::uint32_t taken = firstThird & 1u ? 0u : ends & (firstThird ? (firstThird >> 1) - 1 : ~0u);
            const std::size_t takenCount = std::min<std::size_t>(_mm_popcnt_u32(taken), length - decoded);
            taken = _pdep_u32((1u << takenCount) - 1, taken);
            decodeBlock(nibbles, lastBlock, taken, base, run + decoded);
            decoded += takenCount;
            stream.at = taken ? block + kBlockNibbles - static_cast<std::size_t>(__builtin_clz(taken))
                              : block + static_cast<std::size_t>(_mm_popcnt_u32(alreadyRead)) - carried;
            previous = static_cast<std::uint16_t>(_mm256_cvtsi256_si32(base));
            return decoded;
        }
        decodeBlock(nibbles, lastBlock, ends, base, run + decoded);
        decoded += count;
        carried = more >> 31;
        lastBlock = nibbles;
        alreadyRead = 0;
        block += kBlockNibbles;
    }
    stream.at = block + static_cast<std::size_t>(_mm_popcnt_u32(alreadyRead)) - carried;
    previous = static_cast<std::uint16_t>(_mm256_cvtsi256_si32(base));
    return decoded;
}

TAVORIN_AVX512_BEGIN

// The 64 nibbles (stream order, one a byte) of the eight words at `bytes`.
[[gnu::always_inline]] inline TAVORIN_TARGET_AVX512 __m512i loadSixtyFourNibbles(const std::uint8_t* bytes)
{
    // Each word in a 64-bit lane; nibble i of the word at bit 28 - 4 i.
    const __m512i nibbleShifts = _mm512_set1_epi64(0x0004080C1014181C);
    const __m512i words = _mm512_cvtepu32_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes)));
    return _mm512_and_si512(_mm512_multishift_epi64_epi8(nibbleShifts, words), _mm512_set1_epi8(0x0F));
}

// The running sums of the 32 lanes, modulo 2^16: within each 128-bit quarter, then each
// quarter's total into those above it.
[[gnu::always_inline]] inline TAVORIN_TARGET_AVX512 __m512i runningSums(__m512i lanes)
{
    const __m512i zero = _mm512_setzero_si512();
    const __m512i lane7 = _mm512_set1_epi16(0x0F0E); // byte shuffle: lane 7 of the quarter
    __m512i sums = _mm512_add_epi16(lanes, _mm512_bslli_epi128(lanes, 2));
    sums = _mm512_add_epi16(sums, _mm512_bslli_epi128(sums, 4));
    sums = _mm512_add_epi16(sums, _mm512_bslli_epi128(sums, 8));
    sums = _mm512_add_epi16(sums, _mm512_alignr_epi64(_mm512_shuffle_epi8(sums, lane7), zero, 6));
    return _mm512_add_epi16(sums, _mm512_alignr_epi64(_mm512_shuffle_epi8(sums, lane7), zero, 4));
}

// Decodes the `count` codes that end at the bits of `ends` among the 64 nibbles whose groups
// (nibble & 7) are `groups` (`lastGroups` the 64 before them; `continued`: the nibbles that are
// a code's second group) into depths after `base` (the last depth, in every lane), stored from
// `out`, and moves `base` on. No code may be longer than two nibbles. Writes `count` depths.
[[gnu::always_inline]] inline TAVORIN_TARGET_AVX512 void decodeSixtyFour(__m512i groups, __m512i lastGroups,
                                                                         std::uint64_t continued,
                                                                         std::uint64_t ends, std::size_t count,
                                                                         __m512i& base, std::uint16_t* out)
{
    // Byte i - 1, and for byte 0 the last byte of the nibbles before.
    const __m512i upOne = _mm512_set_epi8(62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44,
                                          43, 42, 41, 40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25,
                                          24, 23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4,
                                          3, 2, 1, 0, 127);
    // Zig-zag codes 0..63 to their differences -32..31, as bytes.
    const __m512i differences =
        _mm512_set_epi8(-32, 31, -31, 30, -30, 29, -29, 28, -28, 27, -27, 26, -26, 25, -25, 24, //
                        -24, 23, -23, 22, -22, 21, -21, 20, -20, 19, -19, 18, -18, 17, -17, 16, //
                        -16, 15, -15, 14, -14, 13, -13, 12, -12, 11, -11, 10, -10, 9, -9, 8,    //
                        -8, 7, -7, 6, -6, 5, -5, 4, -4, 3, -3, 2, -2, 1, -1, 0);
    // At each nibble, the value of a code ending there: its group, above the group before it
    // where it continues a code.
    const __m512i before = _mm512_permutex2var_epi8(groups, upOne, lastGroups);
    const __m512i values =
        _mm512_mask_mov_epi8(groups, continued, _mm512_or_si512(_mm512_slli_epi16(groups, kGroupBits), before));
    // The codes in order, 0 after the last (a 0 code adds nothing), as differences.
    const __m512i deltas = _mm512_permutexvar_epi8(_mm512_maskz_compress_epi8(ends, values), differences);
    const __m512i low = runningSums(_mm512_cvtepi8_epi16(_mm512_castsi512_si256(deltas)));
    __m512i high = runningSums(_mm512_cvtepi8_epi16(_mm512_extracti64x4_epi64(deltas, 1)));
    const __m512i lane31 = _mm512_set1_epi16(31);
    high = _mm512_add_epi16(_mm512_add_epi16(high, _mm512_permutexvar_epi16(lane31, low)), base);
    const unsigned lowCount = static_cast<unsigned>(std::min<std::size_t>(count, 32));
    _mm512_mask_storeu_epi16(out, _bzhi_u32(~0u, lowCount), _mm512_add_epi16(low, base));
    _mm512_mask_storeu_epi16(out + lowCount, _bzhi_u32(~0u, static_cast<unsigned>(count - lowCount)), high);
    base = _mm512_permutexvar_epi16(lane31, high);
}

// readBlocksOfDeltas() 64 nibbles (eight words) a step, and with masked stores, so that the
// output needs no room beyond the run.
TAVORIN_TARGET_AVX512 std::size_t readBlocksOfDeltasAvx512(NibbleStream& stream, std::uint16_t* run,
                                                           std::size_t length, const std::uint16_t*,
                                                           std::uint16_t& previous)
{
    constexpr std::size_t kBlockNibbles = 64;
    const std::uint8_t* const bytes = stream.bytes;
    const std::size_t streamNibbles = stream.nibbles;
    std::size_t block = stream.at / kNibblesPerWord * kNibblesPerWord;
    // Nibbles of the first block before the position, of codes read already.
    std::uint64_t alreadyRead = (std::uint64_t{1} << (stream.at - block)) - 1;
    std::uint64_t carried = 0; // 1 when the last block's final nibble began a code
    const __m512i groupMask = _mm512_set1_epi8(static_cast<char>(kGroupMask));
    const __m512i moreMask = _mm512_set1_epi8(static_cast<char>(kMoreGroups));
    __m512i lastGroups = _mm512_setzero_si512();
    __m512i base = _mm512_set1_epi16(static_cast<short>(previous)); // the last depth, in every lane
    std::size_t decoded = 0;
    while (block + kBlockNibbles <= streamNibbles) {
        const __m512i nibbles = loadSixtyFourNibbles(bytes + block / 2);
        const __m512i groups = _mm512_and_si512(nibbles, groupMask);
        // Bit i: nibble i has a group after it; a bit in `third` marks the third nibble of a code.
        const std::uint64_t more = _mm512_test_epi8_mask(nibbles, moreMask) & ~alreadyRead;
        const std::uint64_t continued = more << 1 | carried;
        const std::uint64_t third = more & continued;
        const std::uint64_t ends = ~(more | alreadyRead);
        const std::size_t count = static_cast<std::size_t>(_mm_popcnt_u64(ends));
        if (third || count > length - decoded) {
            // The codes before a longer one, or up to the run's end; then the stream goes on at
            // the first code not taken.
            const std::uint64_t firstThird = _blsi_u64(third);
            const std::uint64_t beforeLong = firstThird ? (firstThird >> 1) - 1 : ~std::uint64_t{0};
            std::uint64_t taken = firstThird & 1u ? 0u : ends & beforeLong;
            const std::size_t takenCount =
                std::min<std::size_t>(static_cast<std::size_t>(_mm_popcnt_u64(taken)), length - decoded);
            taken = _pdep_u64(_bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(takenCount)), taken);
            decodeSixtyFour(groups, lastGroups, continued, taken, takenCount, base, run + decoded);
            decoded += takenCount;
            stream.at = taken ? block + kBlockNibbles - static_cast<std::size_t>(__builtin_clzll(taken))
                              : block + static_cast<std::size_t>(_mm_popcnt_u64(alreadyRead)) - carried;
            previous = static_cast<std::uint16_t>(_mm512_cvtsi512_si32(base));
            return decoded;
        }
        decodeSixtyFour(groups, lastGroups, continued, ends, count, base, run + decoded);
        decoded += count;
        carried = more >> 63;
        lastGroups = groups;
        alreadyRead = 0;
        block += kBlockNibbles;
    }
    stream.at = block + static_cast<std::size_t>(_mm_popcnt_u64(alreadyRead)) - carried;
    previous = static_cast<std::uint16_t>(_mm512_cvtsi512_si32(base));
    return decoded;
}

TAVORIN_AVX512_END

#endif

// The encoder's kernels: the length of a run of zeros, and the length and codes of a non-zero run.
struct EncodeKernels {
    std::size_t (*zeroRun)(const std::uint16_t*, std::size_t);
    std::size_t (*putNonZeroRun)(NibbleWriter&, const std::uint16_t*, std::size_t, std::uint16_t&);
};
using ReadDeltas = bool (*)(NibbleStream&, std::uint16_t*, std::size_t, const std::uint16_t*, std::uint16_t&);

EncodeKernels encodeKernels()
{
#if TAVORIN_RVL_AVX2
    if (wideKernels())
        return {runLengthAvx2<true>, putNonZeroRunAvx512};
    if (vectorKernels())
        return {runLengthAvx2<true>, putNonZeroRunAvx2};
#endif
    return {runLength<true>, putNonZeroRun};
}

ReadDeltas deltaReader()
{
#if TAVORIN_RVL_AVX2
    if (wideKernels())
        return readDeltasInBlocks<readBlocksOfDeltasAvx512>;
    if (vectorKernels())
        return readDeltasInBlocks<readBlocksOfDeltas>;
#endif
    return readDeltas;
}

} // namespace

std::vector<std::uint8_t> encodeRvl(const std::uint16_t* depthMm, std::size_t pixels)
{
    assert(pixels <= std::numeric_limits<std::uint32_t>::max() && "encodeRvl: runs are 32-bit codes");
    // Room for a quarter of the depths' bytes, which depth frames seldom fill (an eighth is usual),
    // so that the vector does not grow by copies.
    std::vector<std::uint8_t> out;
    out.reserve(pixels / 2);
    NibbleWriter writer(out);
    const EncodeKernels kernels = encodeKernels();
    std::uint16_t previous = 0;
    std::size_t at = 0;
    while (at < pixels) {
        const std::size_t zeros = kernels.zeroRun(depthMm + at, pixels - at);
        writer.putCode(static_cast<std::uint32_t>(zeros));
        at += zeros;
        at += kernels.putNonZeroRun(writer, depthMm + at, pixels - at, previous);
    }
    writer.finish();
    return out;
}

bool decodeRvl(const std::uint8_t* data, std::size_t size, std::uint16_t* depthMm, std::size_t pixels)
{
    NibbleStream stream(data, size);
    const ReadDeltas readRun = deltaReader();
    std::uint16_t previous = 0;
    std::size_t at = 0;
    while (at < pixels) {
        std::uint32_t zeros = 0;
        if (!stream.readCode(zeros) || zeros > pixels - at)
            return false;
        std::fill_n(depthMm + at, zeros, std::uint16_t{0});
        at += zeros;
        std::uint32_t nonZeros = 0;
        if (!stream.readCode(nonZeros) || nonZeros > pixels - at
            || !readRun(stream, depthMm + at, nonZeros, depthMm + pixels, previous))
            return false;
        at += nonZeros;
    }
    return true;
}

RvlKernels limitRvlKernels(RvlKernels most)
{
    allowedKernels.store(static_cast<int>(most));
    return wideKernels() ? RvlKernels::Avx512 : vectorKernels() ? RvlKernels::Avx2 : RvlKernels::Plain;
}

} // namespace tavorin
