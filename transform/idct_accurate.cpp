// Accurate 8x8 inverse DCT in rotation form, with a 32-bit workspace between
// the passes (no 16-bit truncation of intermediate results).
#include "transform/fixed_point.h"
#include "transform/transform.h"

namespace qrl {
namespace {

struct Accurate8 {
    wrap32 y[8];
};

inline Accurate8 accurate_butterfly(const wrap32 x[8]) {
    // Odd part: rotations by pi/16 and 3pi/16, then the cos(pi/4) stage.
    const wrap32 o1 = x[1] * kIdct_cos_1 + x[7] * kIdct_cos_7;
    const wrap32 o2 = x[1] * kIdct_cos_7 - x[7] * kIdct_cos_1;
    const wrap32 o3 = x[5] * kIdct_cos_5 + x[3] * kIdct_cos_3;
    const wrap32 o4 = x[5] * kIdct_cos_3 - x[3] * kIdct_cos_5;

    const wrap32 p = ((o1 + o3 + 2048) >> 12) * kIdct_cos_4_q13;
    const wrap32 q = ((o2 + o4 + 2048) >> 12) * kIdct_cos_4_q13;
    const wrap32 r = (o1 - o3) + (o2 - o4);
    const wrap32 s = (o1 - o3) - (o2 - o4);

    // Even part.
    const wrap32 g = (x[0] + x[4]) * kIdctOne_q15;
    const wrap32 h = (x[0] - x[4]) * kIdctOne_q15;
    const wrap32 e = x[2] * kIdct_r2cos_2 + x[6] * kIdct_r2sin_2;
    const wrap32 f = x[2] * kIdct_r2sin_2 - x[6] * kIdct_r2cos_2;

    const wrap32 e0 = g + e;
    const wrap32 e3 = g - e;
    const wrap32 e1 = h + f;
    const wrap32 e2 = h - f;

    Accurate8 out;
    out.y[0] = e0 + p;
    out.y[7] = e0 - p;
    out.y[1] = e1 + r;
    out.y[6] = e1 - r;
    out.y[2] = e2 + s;
    out.y[5] = e2 - s;
    out.y[3] = e3 + q;
    out.y[4] = e3 - q;
    return out;
}

} // namespace

void idct_accurate_8x8(int16_t *block) {
    wrap32 w[64];
    // Pass 1: rows into the workspace.
    for (int32_t v = 0; v < 8; ++v) {
        wrap32 x[8];
        for (int32_t k = 0; k < 8; ++k) {
            x[k] = block[8 * v + k];
        }
        const Accurate8 r = accurate_butterfly(x);
        for (int32_t k = 0; k < 8; ++k) {
            w[8 * v + k] = (r.y[k] + 2048) >> 12;
        }
    }
    // Pass 2: columns, descaled by 2^21 with rounding, level-shifted, clamped.
    for (int32_t u = 0; u < 8; ++u) {
        wrap32 x[8];
        for (int32_t k = 0; k < 8; ++k) {
            x[k] = w[8 * k + u];
        }
        const Accurate8 r = accurate_butterfly(x);
        for (int32_t k = 0; k < 8; ++k) {
            block[8 * k + u] = clamp_sample(((r.y[k] + 1048576) >> 21) + 128);
        }
    }
}

} // namespace qrl
