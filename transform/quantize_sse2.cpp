// SSE2 quantizers. They equal the portable kernels for every input (no
// clamping of large coefficients): blocks whose coefficients all lie within
// -8192..8191 (every block the transforms make from samples) take one high
// multiply per lane, others form the full 32-bit products from the low and
// high halves of 16x16 multiplications.
#include <emmintrin.h>

#include "transform/simd_common_sse2.h"
#include "transform/transform.h"

namespace qrl {
namespace {

using namespace sse2;

// Low 16 bits of (product + 16384) >> 15 for eight lanes, given the low and
// high halves of the 32-bit products.
inline __m128i round_q15(__m128i lo, __m128i hi) {
    const __m128i half = _mm_set1_epi32(16384);
    __m128i a = _mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi16(lo, hi), half), 15);
    __m128i b = _mm_srai_epi32(_mm_add_epi32(_mm_unpackhi_epi16(lo, hi), half), 15);
    // Sign-extend the low 16 bits so the saturating pack keeps them unchanged.
    a = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
    b = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
    return _mm_packs_epi32(a, b);
}

// The coefficients of a transformed block stay well inside -8192..8191; then
// 4c fits a lane, and ((4c * t) >> 16 + 1) >> 1 is (c * t + 16384) >> 15
// exactly (the floor of a floor halved is the floor of the half). Loads the
// block and says whether every coefficient is in that range.
inline bool load_small(const int16_t *block, __m128i c[8]) {
    c[0] = load8(block);
    __m128i high = c[0], low = c[0];
    #pragma GCC unroll 8
    for (int i = 1; i < 8; ++i) {
        c[i] = load8(block + 8 * i);
        high = _mm_max_epi16(high, c[i]);
        low = _mm_min_epi16(low, c[i]);
    }
    const __m128i over = _mm_or_si128(_mm_cmpgt_epi16(high, _mm_set1_epi16(8191)),
                                      _mm_cmplt_epi16(low, _mm_set1_epi16(-8192)));
    return _mm_movemask_epi8(over) == 0;
}

// ((high half of 4c * t) + 1) >> 1, t signed, or unsigned with `Unsigned`.
template <bool Unsigned>
inline __m128i quantize_small(__m128i c, __m128i t) {
    const __m128i x = _mm_slli_epi16(c, 2);
    __m128i hi = _mm_mulhi_epi16(x, t);
    // Unsigned t: the signed product lacks x * 65536 where t's top bit is set.
    if constexpr (Unsigned) hi = _mm_add_epi16(hi, _mm_and_si128(x, _mm_srai_epi16(t, 15)));
    return _mm_srai_epi16(_mm_add_epi16(hi, _mm_set1_epi16(1)), 1);
}

} // namespace

void quantize_fast_sse2(int16_t *block, const int16_t *table) {
    __m128i small[8];
    if (load_small(block, small)) {
        #pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) store8(block + 8 * i, quantize_small<false>(small[i], load8(table + 8 * i)));
        return;
    }
    for (int i = 0; i < 64; i += 8) {
        const __m128i c = load8(block + i);
        const __m128i t = load8(table + i);
        store8(block + i, round_q15(_mm_mullo_epi16(c, t), _mm_mulhi_epi16(c, t)));
    }
}

void quantize_accurate_sse2(int16_t *block, const int16_t *table) {
    __m128i small[8];
    if (load_small(block, small)) {
        #pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) store8(block + 8 * i, quantize_small<true>(small[i], load8(table + 8 * i)));
        return;
    }
    for (int i = 0; i < 64; i += 8) {
        const __m128i c = load8(block + i);
        const __m128i t = load8(table + i);
        // Signed coefficient times unsigned reciprocal: the signed high half,
        // plus the coefficient where the reciprocal's top bit is set.
        const __m128i top = _mm_srai_epi16(t, 15);
        const __m128i hi = _mm_add_epi16(_mm_mulhi_epi16(c, t), _mm_and_si128(c, top));
        store8(block + i, round_q15(_mm_mullo_epi16(c, t), hi));
    }
}

} // namespace qrl
