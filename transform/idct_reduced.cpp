// Reduced-size inverse transforms for scaled decoding: each output sample is
// the mean of a 2x2, 4x4 or 8x8 group of the full-size result. Coefficients
// whose basis functions average to zero over every group are not read (row and
// column 4 for 4x4; also 2 and 6 for 2x2; everything but DC for 1x1).
#include "transform/fixed_point.h"
#include "transform/transform.h"

namespace qrl {
namespace {

inline wrap32 half(wrap32 v) { return wrap32(v.v / 2); } // truncates toward zero

// ---- Fast family (input carries 2*s(u)*s(v)) ---------------------------------
struct Out4 {
    wrap32 y[4];
};

// Step G on x0, x1, x2, x3, x5, x6, x7.
inline Out4 fast4_step(const wrap32 x[8]) {
    const wrap32 h = half(m15(x[2] - x[6], kFastIdct_1_414214));
    const wrap32 e0 = x[0] + h;
    const wrap32 e1 = x[0] - h;
    const wrap32 d53 = x[5] - x[3];
    const wrap32 d17 = x[1] - x[7];
    const wrap32 o1 = (d53 * -kFast4_sin_pi_8 + d17 * kFast4_cos_pi_8 + 32768) >> 16;
    const wrap32 o2 = (d53 * kFast4_cos_pi_8_b + d17 * kFast4_sin_pi_8 + 32768) >> 16;
    return Out4{{e0 + o1, e1 + o2, e1 - o2, e0 - o1}};
}

// Step H on x0, x1, x3, x5, x7: returns the odd term o.
inline wrap32 fast2_odd(wrap32 x1, wrap32 x3, wrap32 x5, wrap32 x7) {
    return ((x1 - x7) * kFast2_c4_cos_pi_8 + (x5 - x3) * kFast2_c4_sin_pi_8 + 65536) >> 17;
}

inline int16_t fast_descale(wrap32 y) { return clamp_sample(((y + 8) >> 4) + 128); }

// ---- Accurate family ------------------------------------------------------------
inline Out4 accurate4_step(const wrap32 x[8]) {
    const wrap32 t0 = x[0] * kIdct4_one;
    const wrap32 t2 = x[2] * kIdct4_c2 - x[6] * kIdct4_c6;
    const wrap32 t10 = t0 + t2;
    const wrap32 t12 = t0 - t2;
    const wrap32 u0 = x[1] * kIdct4_u0_1 - x[3] * kIdct4_u0_3 + x[5] * kIdct4_u0_5 - x[7] * kIdct4_u0_7;
    const wrap32 u2 = x[1] * kIdct4_u2_1 + x[3] * kIdct4_u2_3 - x[5] * kIdct4_u2_5 - x[7] * kIdct4_u2_7;
    return Out4{{t10 + u2, t12 + u0, t12 - u0, t10 - u2}};
}

inline wrap32 accurate2_odd(wrap32 x1, wrap32 x3, wrap32 x5, wrap32 x7) {
    return x1 * kIdct2_1 - x3 * kIdct2_3 + x5 * kIdct2_5 - x7 * kIdct2_7;
}

// Columns (and row entries) that the 4x4 and 2x2 transforms read.
constexpr int32_t kColumns4[] = {0, 1, 2, 3, 5, 6, 7};
constexpr int32_t kColumns2[] = {0, 1, 3, 5, 7};

} // namespace

void idct_fast_4x4(int16_t *block) {
    for (int32_t u : kColumns4) {
        wrap32 x[8];
        for (int32_t k = 0; k < 8; ++k) {
            x[k] = block[8 * k + u];
        }
        const Out4 r = fast4_step(x);
        for (int32_t k = 0; k < 4; ++k) {
            block[8 * k + u] = store16(r.y[k]);
        }
    }
    for (int32_t row = 0; row < 4; ++row) {
        wrap32 x[8];
        for (int32_t k = 0; k < 8; ++k) {
            x[k] = block[8 * row + k];
        }
        const Out4 r = fast4_step(x);
        for (int32_t j = 0; j < 4; ++j) {
            block[8 * row + j] = fast_descale(r.y[j]);
        }
    }
}

void idct_fast_2x2(int16_t *block) {
    for (int32_t u : kColumns2) {
        const wrap32 x0 = block[u];
        const wrap32 o = fast2_odd(block[8 + u], block[24 + u], block[40 + u], block[56 + u]);
        block[u] = store16(x0 + o);
        block[8 + u] = store16(x0 - o);
    }
    for (int32_t row = 0; row < 2; ++row) {
        const int16_t *x = block + 8 * row;
        const wrap32 x0 = x[0];
        const wrap32 o = fast2_odd(x[1], x[3], x[5], x[7]);
        block[8 * row] = fast_descale(x0 + o);
        block[8 * row + 1] = fast_descale(x0 - o);
    }
}

void idct_fast_1x1(int16_t *block) { block[0] = fast_descale(block[0]); }

void idct_accurate_4x4(int16_t *block) {
    // Plain int32 storage: an array of wrap32 would be zero-filled first.
    int32_t w[4][8];
    // Pass 1 over all eight columns side by side, without the zero-column
    // shortcut: when x1, x2, x3, x5, x6, x7 are zero the step gives
    // (16384 x0 + 2048) >> 12 = 4 x0 exactly, the shortcut's value. Each
    // line below is one operation on the eight columns, a form the compiler
    // runs in vector lanes. Column 4 is computed too; the row step reads no
    // entry 4.
    int32_t t10[8], t12[8], u0[8], u2[8];
    for (int32_t u = 0; u < 8; ++u) {
        const wrap32 t0 = wrap32(block[u]) * kIdct4_one;
        const wrap32 t2 = wrap32(block[16 + u]) * kIdct4_c2 - wrap32(block[48 + u]) * kIdct4_c6;
        t10[u] = (t0 + t2).v;
        t12[u] = (t0 - t2).v;
    }
    for (int32_t u = 0; u < 8; ++u) {
        const wrap32 x1 = block[8 + u], x3 = block[24 + u], x5 = block[40 + u], x7 = block[56 + u];
        u0[u] = (x1 * kIdct4_u0_1 - x3 * kIdct4_u0_3 + x5 * kIdct4_u0_5 - x7 * kIdct4_u0_7).v;
        u2[u] = (x1 * kIdct4_u2_1 + x3 * kIdct4_u2_3 - x5 * kIdct4_u2_5 - x7 * kIdct4_u2_7).v;
    }
    for (int32_t u = 0; u < 8; ++u) {
        w[0][u] = ((wrap32(t10[u]) + wrap32(u2[u]) + 2048) >> 12).v;
        w[3][u] = ((wrap32(t10[u]) - wrap32(u2[u]) + 2048) >> 12).v;
        w[1][u] = ((wrap32(t12[u]) + wrap32(u0[u]) + 2048) >> 12).v;
        w[2][u] = ((wrap32(t12[u]) - wrap32(u0[u]) + 2048) >> 12).v;
    }
    for (int32_t r = 0; r < 4; ++r) {
        const int32_t *row = w[r];
        if ((row[1] | row[2] | row[3] | row[5] | row[6] | row[7]) == 0) {
            const int16_t sample = clamp_sample(((wrap32(row[0]) + 16) >> 5) + 128);
            for (int32_t j = 0; j < 4; ++j) {
                block[8 * r + j] = sample;
            }
            continue;
        }
        const wrap32 x[8] = {row[0], row[1], row[2], row[3], row[4], row[5], row[6], row[7]};
        const Out4 y = accurate4_step(x);
        for (int32_t j = 0; j < 4; ++j) {
            block[8 * r + j] = clamp_sample(((y.y[j] + 262144) >> 19) + 128);
        }
    }
}

void idct_accurate_2x2(int16_t *block) {
    // Plain int32 storage: an array of wrap32 would be zero-filled first.
    int32_t w[2][8];
    // No zero-column shortcut in the first pass: with x1, x3, x5, x7 zero
    // the step gives (32768 x0 + 4096) >> 13 = 4 x0 exactly, its value.
    for (int32_t u : kColumns2) {
        const wrap32 x0 = block[u];
        const wrap32 x1 = block[8 + u], x3 = block[24 + u], x5 = block[40 + u], x7 = block[56 + u];
        const wrap32 t10 = x0 * kIdct2_one;
        const wrap32 o = accurate2_odd(x1, x3, x5, x7);
        w[0][u] = ((t10 + o + 4096) >> 13).v;
        w[1][u] = ((t10 - o + 4096) >> 13).v;
    }
    for (int32_t r = 0; r < 2; ++r) {
        const int32_t *x = w[r];
        if ((x[1] | x[3] | x[5] | x[7]) == 0) {
            const int16_t sample = clamp_sample(((wrap32(x[0]) + 16) >> 5) + 128);
            block[8 * r] = sample;
            block[8 * r + 1] = sample;
            continue;
        }
        const wrap32 t10 = wrap32(x[0]) * kIdct2_one;
        const wrap32 o = accurate2_odd(x[1], x[3], x[5], x[7]);
        block[8 * r] = clamp_sample(((t10 + o + 524288) >> 20) + 128);
        block[8 * r + 1] = clamp_sample(((t10 - o + 524288) >> 20) + 128);
    }
}

void idct_accurate_1x1(int16_t *block) { block[0] = clamp_sample(((wrap32(block[0]) + 4) >> 3) + 128); }

} // namespace qrl
