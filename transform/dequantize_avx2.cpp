// AVX2 dequantizer for set D on processors with AVX2: sixteen coefficients
// per instruction, identical results to dequantize_accurate.
#include <immintrin.h>

#include "transform/transform.h"

namespace qrl {

void dequantize_accurate_avx2(int16_t *block, const int16_t *table) {
#pragma GCC unroll 4
    for (int32_t i = 0; i < 64; i += 16) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block + i));
        const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(table + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(block + i), _mm256_mullo_epi16(c, q));
    }
}

} // namespace qrl
