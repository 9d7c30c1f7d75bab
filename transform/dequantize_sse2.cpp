// SSE2 dequantizer (exact twin of dequantize_accurate) and the SIMD state reset.
#include <emmintrin.h>

#include "transform/transform.h"

namespace qrl {

void dequantize_accurate_sse2(int16_t *block, const int16_t *table) {
    // Unaligned loads cost nothing extra on aligned data, so one path serves
    // every alignment of the block and the table.
#pragma GCC unroll 8
    for (int32_t i = 0; i < 64; i += 8) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + i));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i *>(table + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(block + i), _mm_mullo_epi16(c, q));
    }
}

// Returns the 64-bit SIMD registers to the state floating-point code expects.
void simd_state_reset_sse2() { _mm_empty(); }

} // namespace qrl
