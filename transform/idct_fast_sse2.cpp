// SSE2 fast 8x8 inverse DCT: the AAN dataflow in 16-bit lanes, eight columns
// (then eight rows) per register group. Multiplications are high halves of
// 16x16 products of pre-shifted operands, so they truncate; the output descale
// has no rounding term. A block whose values would wrap a lane (only corrupt
// or extreme data) goes to the portable kernel instead; see transform.h.
#include "transform/fixed_point.h"
#include "transform/simd_common_sse2.h"
#include "transform/transform.h"

namespace qrl {
namespace {

using namespace sse2;

// Magnitude for range checks: x for x >= 0, -x - 1 for x < 0 (never wraps).
inline __m128i magnitude(__m128i x) { return _mm_xor_si128(x, _mm_srai_epi16(x, 15)); }
inline __m128i over(__m128i x, __m128i limit) { return _mm_cmpgt_epi16(magnitude(x), limit); }

template <int Shift>
inline __m128i mul(__m128i x, __m128i c) {
    return _mm_mulhi_epi16(_mm_slli_epi16(x, Shift), c);
}

// One pass over eight lanes in parallel; x[k] is input k of every lane. ORs
// into *bad the lanes whose inputs or multiplication operands leave range.
// Inlined, so that x stays in registers.
[[gnu::always_inline]] inline void fast_pass(__m128i x[8], __m128i *bad) {
    const __m128i k1_40625 = _mm_set1_epi16(static_cast<int16_t>(kSimdFast_1_40625));
    const __m128i k1_847656 = _mm_set1_epi16(static_cast<int16_t>(kSimdFast_1_847656));
    const __m128i k1_082031 = _mm_set1_epi16(static_cast<int16_t>(kSimdFast_1_082031));
    const __m128i km2_613281 = _mm_set1_epi16(static_cast<int16_t>(kSimdFast_m2_613281));
    const __m128i input_limit = _mm_set1_epi16(static_cast<int16_t>(kSimdFastInputLimit));
    const __m128i limit_shift3 = _mm_set1_epi16(4095);
    const __m128i limit_shift2 = _mm_set1_epi16(8191);

    __m128i b = *bad;
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        b = _mm_or_si128(b, over(x[k], input_limit));
    }

    // Odd part.
    const __m128i z10 = _mm_sub_epi16(x[5], x[3]);
    const __m128i z13 = _mm_add_epi16(x[5], x[3]);
    const __m128i z11 = _mm_add_epi16(x[1], x[7]);
    const __m128i z12 = _mm_sub_epi16(x[1], x[7]);
    const __m128i z10_12 = _mm_add_epi16(z10, z12);
    const __m128i z11_13 = _mm_sub_epi16(z11, z13);
    b = _mm_or_si128(b, over(z10, limit_shift3));
    b = _mm_or_si128(b, over(z10_12, limit_shift2));
    b = _mm_or_si128(b, over(z11_13, limit_shift2));

    const __m128i z5 = mul<kSimdFastShift>(z10_12, k1_847656);
    const __m128i t10 = _mm_sub_epi16(mul<kSimdFastShift>(z12, k1_082031), z5);
    const __m128i t12 = _mm_add_epi16(mul<kSimdFastShiftNeg>(z10, km2_613281), z5);
    const __m128i t7 = _mm_add_epi16(z11, z13);
    const __m128i t6 = _mm_sub_epi16(t12, t7);
    const __m128i t5 = _mm_sub_epi16(mul<kSimdFastShift>(z11_13, k1_40625), t6);
    const __m128i t4 = _mm_add_epi16(t10, t5);

    // Even part.
    const __m128i e10 = _mm_add_epi16(x[0], x[4]);
    const __m128i e11 = _mm_sub_epi16(x[0], x[4]);
    const __m128i e13 = _mm_add_epi16(x[2], x[6]);
    const __m128i e12 = _mm_sub_epi16(mul<kSimdFastShift>(_mm_sub_epi16(x[2], x[6]), k1_40625), e13);
    const __m128i t0 = _mm_add_epi16(e10, e13);
    const __m128i t3 = _mm_sub_epi16(e10, e13);
    const __m128i t1 = _mm_add_epi16(e11, e12);
    const __m128i t2 = _mm_sub_epi16(e11, e12);

    x[0] = _mm_add_epi16(t0, t7);
    x[7] = _mm_sub_epi16(t0, t7);
    x[1] = _mm_add_epi16(t1, t6);
    x[6] = _mm_sub_epi16(t1, t6);
    x[2] = _mm_add_epi16(t2, t5);
    x[5] = _mm_sub_epi16(t2, t5);
    x[4] = _mm_add_epi16(t3, t4);
    x[3] = _mm_sub_epi16(t3, t4);
    *bad = b;
}

} // namespace

void idct_fast_8x8_sse2(int16_t *block) {
    __m128i r[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        r[k] = load8(block + 8 * k);
    }
    // A block with only a DC coefficient within the input limit: both passes
    // carry the DC unchanged to every position (no multiplication sees a
    // nonzero operand), so all 64 samples are clamp((DC >> 4) + 128).
    const __m128i rest = _mm_or_si128(_mm_or_si128(_mm_or_si128(r[1], r[2]), _mm_or_si128(r[3], r[4])),
                                      _mm_or_si128(_mm_or_si128(r[5], r[6]), _mm_or_si128(r[7], _mm_srli_si128(r[0], 2))));
    const int32_t dc = block[0];
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(rest, _mm_setzero_si128())) == 0xffff && dc >= -kSimdFastInputLimit - 1 &&
        dc <= kSimdFastInputLimit) {
        int32_t sample = (dc >> 4) + 128;
        sample = sample < 0 ? 0 : (sample > 255 ? 255 : sample);
        const __m128i samples = _mm_set1_epi16(static_cast<int16_t>(sample));
        for (int k = 0; k < 8; ++k) store8(block + 8 * k, samples);
        return;
    }
    __m128i bad = _mm_setzero_si128();
    fast_pass(r, &bad); // columns: lane u, r[k] = row k
    transpose8(r);
    fast_pass(r, &bad); // rows: lane v, r[k] = column k
    if (_mm_movemask_epi8(bad) != 0) {
        idct_fast_8x8(block); // the block itself is still untouched
        return;
    }
    transpose8(r);
#pragma GCC unroll 4
    for (int k = 0; k < 8; k += 2) {
        store_samples(block + 8 * k, block + 8 * k + 8, _mm_srai_epi16(r[k], 4), _mm_srai_epi16(r[k + 1], 4));
    }
}

} // namespace qrl
