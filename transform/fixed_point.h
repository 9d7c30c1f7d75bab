// Fixed-point constants of the transforms and quantizers, each once, with the
// real value it stands for and its scale, and the 32-bit wrapping integer the
// portable kernels compute with.
#pragma once

#include <cstdint>

namespace qrl {

// ---- Wrapping 32-bit arithmetic ---------------------------------------------
// The kernels are defined on signed 32-bit integers whose products and sums
// wrap, and on 16-bit stores that keep the low 16 bits. Signed overflow is
// undefined in C++, so the arithmetic goes through unsigned values; right
// shifts are arithmetic (C++20).
struct wrap32 {
    int32_t v;
    constexpr wrap32() : v(0) {}
    constexpr wrap32(int32_t x) : v(x) {} // NOLINT: implicit by design
};
constexpr wrap32 operator+(wrap32 a, wrap32 b) {
    return wrap32(static_cast<int32_t>(static_cast<uint32_t>(a.v) + static_cast<uint32_t>(b.v)));
}
constexpr wrap32 operator-(wrap32 a, wrap32 b) {
    return wrap32(static_cast<int32_t>(static_cast<uint32_t>(a.v) - static_cast<uint32_t>(b.v)));
}
constexpr wrap32 operator*(wrap32 a, wrap32 b) {
    return wrap32(static_cast<int32_t>(static_cast<uint32_t>(a.v) * static_cast<uint32_t>(b.v)));
}
constexpr wrap32 operator>>(wrap32 a, int n) { return wrap32(a.v >> n); }

// Low 16 bits of a value as a signed 16-bit entry.
constexpr int16_t store16(wrap32 x) { return static_cast<int16_t>(x.v); }
// Sample clamp at the end of an inverse transform.
constexpr int16_t clamp_sample(wrap32 x) {
    return static_cast<int16_t>(x.v < 0 ? 0 : (x.v > 255 ? 255 : x.v));
}
// Rounded Q15 product: (x*c + 2^14) >> 15.
constexpr wrap32 m15(wrap32 x, int32_t c) { return (x * c + 16384) >> 15; }

// ---- Fast inverse transform (AAN), Q15 ---------------------------------------
constexpr int32_t kFastIdct_0_765367 = 25080; // 0.765367 = 2*sin(pi/8)
constexpr int32_t kFastIdct_1_082392 = 35468; // 1.082392 = sqrt(2)*(cos(pi/8) - sin(pi/8))
constexpr int32_t kFastIdct_2_613126 = 85627; // 2.613126 = sqrt(2)*(cos(pi/8) + sin(pi/8)); needs 17 bits
constexpr int32_t kFastIdct_1_414214 = 46341; // 1.414214 = sqrt(2); needs 16 bits unsigned
// Reduced fast transforms.
constexpr int32_t kFast4_cos_pi_8 = 60548;      // 0.923880 = cos(pi/8), Q16
constexpr int32_t kFast4_cos_pi_8_b = 60547;    // the same, one lower (second odd output)
constexpr int32_t kFast4_sin_pi_8 = 25080;      // 0.382683 = sin(pi/8), Q16
constexpr int32_t kFast2_c4_cos_pi_8 = 85627;   // 0.653281 = cos(pi/4)*cos(pi/8), Q17
constexpr int32_t kFast2_c4_sin_pi_8 = 35468;   // 0.270598 = cos(pi/4)*sin(pi/8), Q17

// ---- Accurate inverse transform (rotation form) ------------------------------
constexpr int32_t kIdct_cos_1 = 32138;    // 0.980785 = cos(pi/16), Q15
constexpr int32_t kIdct_cos_7 = 6393;     // 0.195090 = cos(7pi/16), Q15
constexpr int32_t kIdct_cos_5 = 18205;    // 0.555570 = cos(5pi/16), Q15
constexpr int32_t kIdct_cos_3 = 27246;    // 0.831470 = cos(3pi/16), Q15
constexpr int32_t kIdct_r2cos_2 = 42813;  // 1.306563 = sqrt(2)*cos(pi/8), Q15
constexpr int32_t kIdct_r2sin_2 = 17734;  // 0.541196 = sqrt(2)*sin(pi/8), Q15
constexpr int32_t kIdct_cos_4_q13 = 5793; // 0.707107 = cos(pi/4), Q13
constexpr int32_t kIdctOne_q15 = 32768;   // 1.0, Q15
// Reduced accurate transforms: 4x4 in Q13, 2x2 in Q15.
constexpr int32_t kIdct4_one = 16384;   // 2.0 (x0 scale), Q13
constexpr int32_t kIdct4_c2 = 15137;    // 1.847759 = 2*cos(pi/8), Q13
constexpr int32_t kIdct4_c6 = 6270;     // 0.765367 = 2*sin(pi/8), Q13
constexpr int32_t kIdct4_u0_1 = 8697;   // 1.061646, Q13
constexpr int32_t kIdct4_u0_3 = 17799;  // 2.172729, Q13
constexpr int32_t kIdct4_u0_5 = 11893;  // 1.451782, Q13
constexpr int32_t kIdct4_u0_7 = 1730;   // 0.211182, Q13
constexpr int32_t kIdct4_u2_1 = 20995;  // 2.562866, Q13
constexpr int32_t kIdct4_u2_3 = 7373;   // 0.900024, Q13
constexpr int32_t kIdct4_u2_5 = 4926;   // 0.601318, Q13
constexpr int32_t kIdct4_u2_7 = 4176;   // 0.509766, Q13
constexpr int32_t kIdct2_one = 32768;   // 1.0 (x0 scale), Q15
constexpr int32_t kIdct2_1 = 29692;     // 0.906128, Q15
constexpr int32_t kIdct2_3 = 10426;     // 0.318176, Q15
constexpr int32_t kIdct2_5 = 6967;      // 0.212616, Q15
constexpr int32_t kIdct2_7 = 5906;      // 0.180237, Q15

// ---- Forward transforms -------------------------------------------------------
constexpr int32_t kFastFdct_0_707107 = 23170; // cos(pi/4), Q15
constexpr int32_t kFastFdct_0_382683 = 12540; // sin(pi/8), Q15
constexpr int32_t kFastFdct_0_541196 = 17734; // sqrt(2)*sin(pi/8), Q15
constexpr int32_t kFastFdct_1_306563 = 42813; // sqrt(2)*cos(pi/8), Q15
constexpr int32_t kFdct_8r2cos_2 = 42813;     // 10.452503 = 8*sqrt(2)*cos(pi/8), Q12
constexpr int32_t kFdct_8r2sin_2 = 17734;     // 4.329569 = 8*sqrt(2)*sin(pi/8), Q12
constexpr int32_t kFdct_8r2 = 46341;          // 11.313708 = 8*sqrt(2), Q12
constexpr int32_t kFdct_cos_1 = 4017;         // 0.980785 = cos(pi/16), Q12
constexpr int32_t kFdct_sin_1 = 799;          // 0.195090 = sin(pi/16), Q12
constexpr int32_t kFdct_cos_3 = 3406;         // 0.831470 = cos(3pi/16), Q12
constexpr int32_t kFdct_sin_3 = 2276;         // 0.555570 = sin(3pi/16), Q12

// ---- SIMD fast inverse transform: high halves of 16x16 products ---------------
// An operand pre-shifted left by 2 (by 3 for the negative factor) times the
// constant, keeping bits 16..31: the factor is constant * 2^shift / 65536.
constexpr int32_t kSimdFast_1_40625 = 23040;   // 1.406250 ~ sqrt(2), shift 2
constexpr int32_t kSimdFast_1_847656 = 30272;  // 1.847656 ~ 2*cos(pi/8), shift 2
constexpr int32_t kSimdFast_1_082031 = 17728;  // 1.082031, shift 2
constexpr int32_t kSimdFast_m2_613281 = -21408; // -2.613281, shift 3
constexpr int32_t kSimdFastShift = 2;
constexpr int32_t kSimdFastShiftNeg = 3;
static_assert(kSimdFast_1_40625 * 4 == 92160 && kSimdFast_m2_613281 * 8 == -171264,
              "the pre-shifted constants give the stated factors");

// ---- SIMD accurate inverse transform, column pass, Q16 tangents -------------
constexpr int32_t kSimdTan1 = 13036;        // 0.198912 = tan(pi/16)
constexpr int32_t kSimdTan2 = 27146;        // 0.414214 = tan(pi/8)
constexpr int32_t kSimdTan3m1 = -21746;     // tan(3pi/16) - 1 = -0.331821
constexpr int32_t kSimdCos4m1 = -19195;     // cos(pi/4) - 1 = -0.292893
// Row pass matrix scale: entries are round(16384 * k(v) * a(u) * cos(...)).
constexpr int32_t kSimdRowScale = 16384;

// ---- SIMD forward fast transform: high halves of 16x16 products ---------------
constexpr int32_t kSimdFdct_0_382683 = 25088; // 0.382813 = 25088 / 65536
constexpr int32_t kSimdFdct_0_541196 = 17792; // 0.542969 = 2 * 17792 / 65536 (operand doubled)
constexpr int32_t kSimdFdct_0_707107 = 23168; // 0.707031 = 2 * 23168 / 65536 (operand doubled)
constexpr int32_t kSimdFdct_1_306563 = 21376; // 1.304688 = 4 * 21376 / 65536 (operand times 4)

// ---- Headroom -------------------------------------------------------------------
// 16-bit inputs, sums of two of them and Q15/Q16 constants below 2^17: the
// product of a 17-bit operand and a 17-bit constant needs 34 bits, which is why
// the kernels compute in wrapping 32-bit arithmetic rather than rely on range.
static_assert(int64_t{32767} * 2 * kFastIdct_2_613126 > INT32_MAX,
              "pass-2 products of the fast transform can exceed 32 bits on corrupt data");
// With valid 8-bit data (dequantized coefficients below 2^12) every product fits.
static_assert(int64_t{4096} * 2 * kFastIdct_2_613126 + 16384 < INT32_MAX, "fast transform headroom");
static_assert(int64_t{8192} * (kIdct_cos_1 + kIdct_cos_7) * 2 + 2048 < INT32_MAX,
              "accurate transform headroom for 13-bit coefficients");
// A signed 16-bit coefficient times an unsigned 16-bit reciprocal, plus the rounding
// term, stays inside 32 bits: quantize_accurate needs no wider arithmetic.
static_assert(int64_t{-32768} * 65535 - 16384 > INT32_MIN && int64_t{32767} * 65535 + 16384 < INT32_MAX,
              "quantizer products fit 32 bits");

} // namespace qrl
