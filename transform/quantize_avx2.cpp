// AVX2 accurate quantizer for set D on processors with AVX2: the SSE2
// kernel's fast path (one high multiply per lane for coefficients within
// -8192..8191) on sixteen lanes; other blocks go to the SSE2 kernel.
// Identical results to the portable kernel.
#include <immintrin.h>

#include "transform/transform.h"

namespace qrl {
namespace {

inline __m256i load16(const int16_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }

// Loads the block; true when every coefficient lies within -8192..8191.
inline bool load_small(const int16_t *block, __m256i c[4]) {
    c[0] = load16(block);
    __m256i high = c[0], low = c[0];
#pragma GCC unroll 4
    for (int i = 1; i < 4; ++i) {
        c[i] = load16(block + 16 * i);
        high = _mm256_max_epi16(high, c[i]);
        low = _mm256_min_epi16(low, c[i]);
    }
    const __m256i over = _mm256_or_si256(_mm256_cmpgt_epi16(high, _mm256_set1_epi16(8191)),
                                         _mm256_cmpgt_epi16(_mm256_set1_epi16(-8192), low));
    return _mm256_movemask_epi8(over) == 0;
}

// ((high half of 4c * t) + 1) >> 1 for an unsigned reciprocal t: the signed
// product lacks x * 65536 where t's top bit is set.
inline __m256i quantize_small(__m256i c, __m256i t) {
    const __m256i x = _mm256_slli_epi16(c, 2);
    const __m256i hi = _mm256_add_epi16(_mm256_mulhi_epi16(x, t), _mm256_and_si256(x, _mm256_srai_epi16(t, 15)));
    return _mm256_srai_epi16(_mm256_add_epi16(hi, _mm256_set1_epi16(1)), 1);
}

} // namespace

void quantize_accurate_avx2(int16_t *block, const int16_t *table) {
    __m256i c[4];
    if (!load_small(block, c)) {
        quantize_accurate_sse2(block, table);
        return;
    }
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(block + 16 * i), quantize_small(c[i], load16(table + 16 * i)));
}

} // namespace qrl
