// Forward 8x8 DCTs of the encoder. The fast one (AAN) leaves the scale factors
// 8*s(u)*s(v) in its output for the fast reciprocal table to remove; the
// accurate one yields the T.81 coefficients to within about half a unit.
#include "transform/fixed_point.h"
#include "transform/transform.h"

namespace qrl {
namespace {

struct Out8 {
    wrap32 y[8];
};

inline Out8 fast_forward_step(const wrap32 x[8]) {
    const wrap32 t0 = x[0] + x[7], t7 = x[0] - x[7];
    const wrap32 t1 = x[1] + x[6], t6 = x[1] - x[6];
    const wrap32 t2 = x[2] + x[5], t5 = x[2] - x[5];
    const wrap32 t3 = x[3] + x[4], t4 = x[3] - x[4];

    Out8 r;
    // Even part.
    const wrap32 t10 = t0 + t3, t13 = t0 - t3;
    const wrap32 t11 = t1 + t2, t12 = t1 - t2;
    r.y[0] = t10 + t11;
    r.y[4] = t10 - t11;
    const wrap32 z1 = m15(t12 + t13, kFastFdct_0_707107);
    r.y[2] = t13 + z1;
    r.y[6] = t13 - z1;

    // Odd part.
    const wrap32 a = t4 + t5, b = t5 + t6, d = t6 + t7;
    const wrap32 z5 = m15(a - d, kFastFdct_0_382683);
    const wrap32 z2 = m15(a, kFastFdct_0_541196) + z5;
    const wrap32 z4 = m15(d, kFastFdct_1_306563) + z5;
    const wrap32 z3 = m15(b, kFastFdct_0_707107);
    const wrap32 z11 = t7 + z3, z13 = t7 - z3;
    r.y[5] = z13 + z2;
    r.y[3] = z13 - z2;
    r.y[1] = z11 + z4;
    r.y[7] = z11 - z4;
    return r;
}

// Accurate step; `first` selects the row pass's DC form and descale.
inline Out8 accurate_forward_step(const wrap32 x[8], bool first) {
    const int32_t sh = first ? 12 : 21;
    const int32_t rd = first ? 2048 : 1048576;
    const wrap32 a07 = x[0] + x[7], d07 = x[0] - x[7];
    const wrap32 s16 = x[1] + x[6], d16 = x[1] - x[6];
    const wrap32 s25 = x[2] + x[5], d25 = x[2] - x[5];
    const wrap32 s34 = x[3] + x[4], d34 = x[3] - x[4];

    const wrap32 e0 = a07 + s34, e1 = a07 - s34;
    const wrap32 e2 = s16 + s25, e3 = s16 - s25;

    Out8 r;
    if (first) {
        r.y[0] = (e0 + e2) * 8;
        r.y[4] = (e0 - e2) * 8;
    } else {
        r.y[0] = (e0 + e2 + 32) >> 6;
        r.y[4] = (e0 - e2 + 32) >> 6;
    }
    r.y[2] = (e1 * kFdct_8r2cos_2 + e3 * kFdct_8r2sin_2 + rd) >> sh;
    r.y[6] = (e1 * kFdct_8r2sin_2 - e3 * kFdct_8r2cos_2 + rd) >> sh;

    const wrap32 m07 = (d07 * kFdct_8r2 + 2048) >> 12;
    const wrap32 m34 = (d34 * kFdct_8r2 + 2048) >> 12;
    const wrap32 sum = (d25 + d16) * 8;
    const wrap32 diff = (d16 - d25) * 8;
    const wrap32 p = m07 + sum, q = m07 - sum;
    const wrap32 rr = m34 + diff, s = m34 - diff;

    r.y[1] = (p * kFdct_cos_1 + rr * kFdct_sin_1 + rd) >> sh;
    r.y[7] = (p * kFdct_sin_1 - rr * kFdct_cos_1 + rd) >> sh;
    r.y[5] = (q * kFdct_sin_3 + s * kFdct_cos_3 + rd) >> sh;
    r.y[3] = (q * kFdct_cos_3 - s * kFdct_sin_3 + rd) >> sh;
    return r;
}

} // namespace

void fdct_fast(int16_t *block) {
    alignas(32) wrap32 w[64];
    for (int32_t y = 0; y < 8; ++y) {
        wrap32 x[8];
        for (int32_t k = 0; k < 8; ++k) {
            x[k] = block[8 * y + k];
        }
        const Out8 r = fast_forward_step(x);
        for (int32_t k = 0; k < 8; ++k) {
            w[8 * y + k] = r.y[k];
        }
    }
    for (int32_t u = 0; u < 8; ++u) {
        wrap32 x[8];
        for (int32_t k = 0; k < 8; ++k) {
            x[k] = w[8 * k + u];
        }
        const Out8 r = fast_forward_step(x);
        for (int32_t k = 0; k < 8; ++k) {
            block[8 * k + u] = store16(r.y[k]);
        }
    }
}

void fdct_accurate(int16_t *block) {
    for (int32_t y = 0; y < 8; ++y) {
        wrap32 x[8];
        for (int32_t k = 0; k < 8; ++k) {
            x[k] = block[8 * y + k];
        }
        const Out8 r = accurate_forward_step(x, true);
        for (int32_t k = 0; k < 8; ++k) {
            block[8 * y + k] = store16(r.y[k]);
        }
    }
    for (int32_t u = 0; u < 8; ++u) {
        wrap32 x[8];
        for (int32_t k = 0; k < 8; ++k) {
            x[k] = block[8 * k + u];
        }
        const Out8 r = accurate_forward_step(x, false);
        for (int32_t k = 0; k < 8; ++k) {
            block[8 * k + u] = store16(r.y[k]);
        }
    }
}

} // namespace qrl
