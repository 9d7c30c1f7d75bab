// Per-block dequantization of the decoder.
#include "transform/fixed_point.h"
#include "transform/transform.h"
#include "transform/zigzag.h"

namespace qrl {

// block and table never overlap; saying so lets the compiler use vector
// instructions for these loops.
void dequantize_fast(int16_t *__restrict block, const int16_t *__restrict table) {
    for (int32_t i = 0; i < kBlockCoefficients; ++i) {
        block[i] = store16((wrap32(block[i]) * table[i] + 64) >> 7);
    }
}

void dequantize_accurate(int16_t *__restrict block, const int16_t *__restrict table) {
    for (int32_t i = 0; i < kBlockCoefficients; ++i) {
        block[i] = store16(wrap32(block[i]) * table[i]);
    }
}

void simd_state_reset_none() {}

bool simd_kernels_built() {
#ifdef QRL_X86_SIMD
    return true;
#else
    return false;
#endif
}

} // namespace qrl
