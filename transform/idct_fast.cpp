// Fast 8x8 inverse DCT (AAN factorisation). Input: coefficients dequantized
// with a fast table, which carry the factor 2*s(u)*s(v); the scale factors of
// the factorisation are folded into that table, so the butterfly needs only
// five multiplications. Pass-1 results are kept as 16-bit values.
#include "transform/fixed_point.h"
#include "transform/transform.h"

namespace qrl {
namespace {

// One-dimensional butterfly on x[0..7] (stride apart in the block).
struct Fast8 {
    wrap32 y[8];
};

inline Fast8 fast_butterfly(const wrap32 x[8]) {
    const wrap32 z10 = x[5] - x[3];
    const wrap32 z13 = x[5] + x[3];
    const wrap32 z11 = x[1] + x[7];
    const wrap32 z12 = x[1] - x[7];

    const wrap32 a = m15(z10 - z12, kFastIdct_0_765367);
    const wrap32 b = m15(z12, kFastIdct_1_082392) - a;
    const wrap32 d = a - m15(z10, kFastIdct_2_613126);

    const wrap32 t7 = z11 + z13;
    const wrap32 t6 = b - t7;
    const wrap32 t5 = m15(z11 - z13, kFastIdct_1_414214) - t6;
    const wrap32 t4 = d + t5;

    const wrap32 e10 = x[0] + x[4];
    const wrap32 e11 = x[0] - x[4];
    const wrap32 e13 = x[2] + x[6];
    const wrap32 e12 = m15(x[2] - x[6], kFastIdct_1_414214) - e13;

    const wrap32 t0 = e10 + e13;
    const wrap32 t3 = e10 - e13;
    const wrap32 t1 = e11 + e12;
    const wrap32 t2 = e11 - e12;

    Fast8 r;
    r.y[0] = t0 + t7;
    r.y[7] = t0 - t7;
    r.y[1] = t1 + t6;
    r.y[6] = t1 - t6;
    r.y[2] = t2 + t5;
    r.y[5] = t2 - t5;
    r.y[4] = t3 + t4;
    r.y[3] = t3 - t4;
    return r;
}

} // namespace

void idct_fast_8x8(int16_t *block) {
    // Pass 1: columns, results stored back as 16-bit values.
    for (int32_t u = 0; u < 8; ++u) {
        wrap32 x[8];
        for (int32_t k = 0; k < 8; ++k) {
            x[k] = block[8 * k + u];
        }
        const Fast8 r = fast_butterfly(x);
        for (int32_t k = 0; k < 8; ++k) {
            block[8 * k + u] = store16(r.y[k]);
        }
    }
    // Pass 2: rows, descaled by 16 with rounding, level-shifted and clamped.
    for (int32_t v = 0; v < 8; ++v) {
        wrap32 x[8];
        for (int32_t k = 0; k < 8; ++k) {
            x[k] = block[8 * v + k];
        }
        const Fast8 r = fast_butterfly(x);
        for (int32_t k = 0; k < 8; ++k) {
            block[8 * v + k] = clamp_sample(((r.y[k] + 8) >> 4) + 128);
        }
    }
}

} // namespace qrl
