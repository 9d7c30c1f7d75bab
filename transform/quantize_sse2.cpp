// SSE2 quantizers. They form the full 32-bit products from the low and high
// halves of 16x16 multiplications, so they equal the portable kernels for
// every input (no clamping of large coefficients).
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

} // namespace

void quantize_fast_sse2(int16_t *block, const int16_t *table) {
    for (int i = 0; i < 64; i += 8) {
        const __m128i c = load8(block + i);
        const __m128i t = load8(table + i);
        store8(block + i, round_q15(_mm_mullo_epi16(c, t), _mm_mulhi_epi16(c, t)));
    }
}

void quantize_accurate_sse2(int16_t *block, const int16_t *table) {
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
