// SSE2 fast forward DCT: the AAN dataflow of fdct_fast on eight rows (then
// eight columns) at once in 16-bit lanes, with every Q15 product formed in
// 32 bits and rounded exactly as the portable kernel does. The results equal
// the portable kernel's. Lanes hold the full range of both passes only for
// inputs of magnitude up to kSimdFdctInputLimit (the input stage delivers
// -128..127); any other block goes to the portable kernel.
#include "transform/fixed_point.h"
#include "transform/simd_common_sse2.h"
#include "transform/transform.h"

namespace qrl {
namespace {

using namespace sse2;

// (x * c + 16384) >> 15 for 0 <= c < 32768, as one multiply-add per half:
// the pairs (x, 1) times (c, 16384).
inline __m128i m15(__m128i x, __m128i c_and_half) {
    const __m128i one = _mm_set1_epi16(1);
    const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(x, one), c_and_half);
    const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(x, one), c_and_half);
    return _mm_packs_epi32(_mm_srai_epi32(lo, 15), _mm_srai_epi32(hi, 15));
}

inline __m128i pair(int32_t c) { return _mm_set1_epi32((16384 << 16) | c); }

// One pass; x[k] is input k of eight lanes.
inline void forward_pass(__m128i x[8]) {
    const __m128i c0_707107 = pair(kFastFdct_0_707107);
    const __m128i c0_382683 = pair(kFastFdct_0_382683);
    const __m128i c0_541196 = pair(kFastFdct_0_541196);
    // 1.306563 = 1 + 10045 / 32768: the whole part is added separately.
    const __m128i c0_306563 = pair(kFastFdct_1_306563 - 32768);

    const __m128i t0 = _mm_add_epi16(x[0], x[7]), t7 = _mm_sub_epi16(x[0], x[7]);
    const __m128i t1 = _mm_add_epi16(x[1], x[6]), t6 = _mm_sub_epi16(x[1], x[6]);
    const __m128i t2 = _mm_add_epi16(x[2], x[5]), t5 = _mm_sub_epi16(x[2], x[5]);
    const __m128i t3 = _mm_add_epi16(x[3], x[4]), t4 = _mm_sub_epi16(x[3], x[4]);

    const __m128i t10 = _mm_add_epi16(t0, t3), t13 = _mm_sub_epi16(t0, t3);
    const __m128i t11 = _mm_add_epi16(t1, t2), t12 = _mm_sub_epi16(t1, t2);
    x[0] = _mm_add_epi16(t10, t11);
    x[4] = _mm_sub_epi16(t10, t11);
    const __m128i z1 = m15(_mm_add_epi16(t12, t13), c0_707107);
    x[2] = _mm_add_epi16(t13, z1);
    x[6] = _mm_sub_epi16(t13, z1);

    const __m128i a = _mm_add_epi16(t4, t5), b = _mm_add_epi16(t5, t6), d = _mm_add_epi16(t6, t7);
    const __m128i z5 = m15(_mm_sub_epi16(a, d), c0_382683);
    const __m128i z2 = _mm_add_epi16(m15(a, c0_541196), z5);
    const __m128i z4 = _mm_add_epi16(_mm_add_epi16(d, m15(d, c0_306563)), z5);
    const __m128i z3 = m15(b, c0_707107);
    const __m128i z11 = _mm_add_epi16(t7, z3), z13 = _mm_sub_epi16(t7, z3);
    x[5] = _mm_add_epi16(z13, z2);
    x[3] = _mm_sub_epi16(z13, z2);
    x[1] = _mm_add_epi16(z11, z4);
    x[7] = _mm_sub_epi16(z11, z4);
}

} // namespace

void fdct_fast_sse2(int16_t *block) {
    __m128i r[8];
    __m128i bad = _mm_setzero_si128();
    const __m128i limit = _mm_set1_epi16(static_cast<int16_t>(kSimdFdctInputLimit));
    for (int k = 0; k < 8; ++k) {
        r[k] = load8(block + 8 * k);
        const __m128i magnitude = _mm_xor_si128(r[k], _mm_srai_epi16(r[k], 15));
        bad = _mm_or_si128(bad, _mm_cmpgt_epi16(magnitude, limit));
    }
    if (_mm_movemask_epi8(bad) != 0) {
        fdct_fast(block);
        return;
    }
    transpose8(r);  // r[k] = column k: lanes are rows
    forward_pass(r); // along the rows
    transpose8(r);  // r[y] = row y of the row results: lanes are columns
    forward_pass(r); // down the columns
    for (int k = 0; k < 8; ++k) {
        store8(block + 8 * k, r[k]);
    }
}

} // namespace qrl
