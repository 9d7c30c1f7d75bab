// Per-block quantization of the encoder: multiplication by the reciprocal
// table with rounding, halves toward plus infinity.
#include "transform/fixed_point.h"
#include "transform/transform.h"
#include "transform/zigzag.h"

namespace qrl {

void quantize_fast(int16_t *block, const int16_t *table) {
    for (int32_t i = 0; i < kBlockCoefficients; ++i) {
        block[i] = store16((wrap32(block[i]) * table[i] + 16384) >> 15);
    }
}

void quantize_accurate(int16_t *block, const int16_t *table) {
    for (int32_t i = 0; i < kBlockCoefficients; ++i) {
        const int32_t reciprocal = static_cast<uint16_t>(table[i]);
        block[i] = store16((wrap32(block[i]) * reciprocal + 16384) >> 15);
    }
}

} // namespace qrl
