// SSE2 accurate 8x8 inverse DCT, bit-exact with the portable idct_accurate_8x8
// for every input block.
//
// It runs the portable rotation-form butterfly with the same constants, the
// same intermediate roundings and the same 32-bit wrapping arithmetic, on eight
// rows (pass 1) or eight columns (pass 2) at once: the block is transposed so
// that register k holds input x_k of all eight lines, pairs of inputs are
// interleaved and multiplied with _mm_madd_epi16 into 32-bit lanes, and every
// sum and shift is done on 32-bit lanes (which wrap exactly as the portable
// wrap32 arithmetic does).
//
// Products whose constant does not fit a signed 16-bit lane are split so that
// the sum stays exact modulo 2^32:
//   42813*x = -22723*x + (x << 16),  -42813*x = 22723*x - (x << 16),
//   32768*(a + b) = (16384*a + 16384*b) << 1,
//   5793*t from 16-bit low and high products of t's two words (mul_cos4).
//
// Every output of the butterfly contains g or h exactly once, so the rounding
// term of each pass is added to those two (the sum is the same modulo 2^32).
//
// Two kinds of sparse block take shorter paths with the same results: a block
// with only a DC coefficient (|DC| < 4096) gives 64 samples
// clamp(((DC + 4) >> 3) + 128); a block whose rows 4 to 7 are zero has zero
// pass-1 outputs in those rows, so pass 1 transforms only rows 0 to 3.
//
// Pass 1 takes any int16 inputs. Its outputs (20-bit values) are packed to 16
// bits for pass 2, which is exact only while they fit; a block with a pass-1
// output outside -32768..32767 (possible only for coefficients far beyond what
// 8-bit JPEG data produces) is handed unchanged to the portable kernel.
#include "transform/fixed_point.h"
#include "transform/simd_common_sse2.h"
#include "transform/transform.h"

// The loops run over register arrays; unrolled, the arrays live in registers.
#define QRL_UNROLL _Pragma("GCC unroll 8")

namespace qrl {
namespace {

using namespace sse2;

// A 32-bit lane with coefficient a for its low 16-bit word and b for its high one.
inline __m128i pair(int32_t a, int32_t b) {
    const uint32_t lo = static_cast<uint16_t>(static_cast<int16_t>(a));
    const uint32_t hi = static_cast<uint16_t>(static_cast<int16_t>(b));
    return _mm_set1_epi32(static_cast<int32_t>(lo | (hi << 16)));
}

constexpr int32_t kOverflow16 = 65536; // 2^16, removed from the two large constants
static_assert(kIdct_r2cos_2 - kOverflow16 >= -32768 && kOverflow16 - kIdct_r2cos_2 <= 32767,
              "42813 splits into a 16-bit coefficient and a 16-bit shift");
static_assert(kIdctOne_q15 == 2 * 16384, "the DC scale is applied as 16384 then << 1");
static_assert(kIdct_cos_1 < 32768 && kIdct_cos_3 < 32768 && kIdct_cos_5 < 32768 && kIdct_cos_7 < 32768 &&
                  kIdct_r2sin_2 < 32768 && kIdct_cos_4_q13 < 32768,
              "the other constants fit signed 16-bit lanes");

struct Constants {
    __m128i c04_sum, c04_dif;   // (16384, 16384), (16384, -16384)
    __m128i c26_e, c26_f;       // (42813 - 2^16, 17734), (17734, 2^16 - 42813)
    __m128i c17_o1, c17_o2;     // (32138, 6393), (6393, -32138)
    __m128i c53_o3, c53_o4;     // (18205, 27246), (27246, -18205) on (x5, x3)
    __m128i c4;                 // 5793 in every 16-bit lane
    __m128i round12;
};

inline Constants make_constants() {
    Constants k;
    k.c04_sum = pair(16384, 16384);
    k.c04_dif = pair(16384, -16384);
    k.c26_e = pair(kIdct_r2cos_2 - kOverflow16, kIdct_r2sin_2);
    k.c26_f = pair(kIdct_r2sin_2, kOverflow16 - kIdct_r2cos_2);
    k.c17_o1 = pair(kIdct_cos_1, kIdct_cos_7);
    k.c17_o2 = pair(kIdct_cos_7, -kIdct_cos_1);
    k.c53_o3 = pair(kIdct_cos_5, kIdct_cos_3);
    k.c53_o4 = pair(kIdct_cos_3, -kIdct_cos_5);
    k.c4 = _mm_set1_epi16(static_cast<int16_t>(kIdct_cos_4_q13));
    k.round12 = _mm_set1_epi32(2048);
    return k;
}

// t * 5793 modulo 2^32 for any 32-bit lanes t = 65536 H + L (L, H unsigned
// 16-bit words): the low word is low16(5793 L), the high word
// high16(5793 L) + low16(5793 H).
inline __m128i mul_cos4(__m128i t, const Constants &k) {
    const __m128i low = _mm_mullo_epi16(t, k.c4);
    const __m128i carry = _mm_slli_epi32(_mm_mulhi_epu16(t, k.c4), 16);
    return _mm_add_epi32(low, carry);
}

// The butterfly on four lines. p04, p26, p17, p53 hold the interleaved input
// pairs (x0, x4), (x2, x6), (x1, x7), (x5, x3); x2h and x6h hold x2 << 16 and
// x6 << 16 in 32-bit lanes. `round` is added to every output.
inline void butterfly4(__m128i p04, __m128i p26, __m128i p17, __m128i p53, __m128i x2h, __m128i x6h,
                       __m128i round, const Constants &k, __m128i y[8]) {
    const __m128i o1 = _mm_madd_epi16(p17, k.c17_o1);
    const __m128i o2 = _mm_madd_epi16(p17, k.c17_o2);
    const __m128i o3 = _mm_madd_epi16(p53, k.c53_o3);
    const __m128i o4 = _mm_madd_epi16(p53, k.c53_o4);
    const __m128i p = mul_cos4(_mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(o1, o3), k.round12), 12), k);
    const __m128i q = mul_cos4(_mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(o2, o4), k.round12), 12), k);
    const __m128i d13 = _mm_sub_epi32(o1, o3);
    const __m128i d24 = _mm_sub_epi32(o2, o4);
    const __m128i r = _mm_add_epi32(d13, d24);
    const __m128i s = _mm_sub_epi32(d13, d24);

    const __m128i g = _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(p04, k.c04_sum), 1), round);
    const __m128i h = _mm_add_epi32(_mm_slli_epi32(_mm_madd_epi16(p04, k.c04_dif), 1), round);
    const __m128i e = _mm_add_epi32(_mm_madd_epi16(p26, k.c26_e), x2h);
    const __m128i f = _mm_sub_epi32(_mm_madd_epi16(p26, k.c26_f), x6h);
    const __m128i e0 = _mm_add_epi32(g, e);
    const __m128i e3 = _mm_sub_epi32(g, e);
    const __m128i e1 = _mm_add_epi32(h, f);
    const __m128i e2 = _mm_sub_epi32(h, f);

    y[0] = _mm_add_epi32(e0, p);
    y[7] = _mm_sub_epi32(e0, p);
    y[1] = _mm_add_epi32(e1, r);
    y[6] = _mm_sub_epi32(e1, r);
    y[2] = _mm_add_epi32(e2, s);
    y[5] = _mm_sub_epi32(e2, s);
    y[3] = _mm_add_epi32(e3, q);
    y[4] = _mm_sub_epi32(e3, q);
}

// The butterfly on lines 0..3 (High false) or 4..7 (High true) of x, where
// x[k] holds input k of lines 0..7 as 16-bit lanes.
template <bool High>
inline void butterfly_half(const __m128i x[8], __m128i round, const Constants &k, __m128i y[8]) {
    const auto mix = [](__m128i a, __m128i b) { return High ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b); };
    const __m128i zero = _mm_setzero_si128();
    butterfly4(mix(x[0], x[4]), mix(x[2], x[6]), mix(x[1], x[7]), mix(x[5], x[3]), mix(zero, x[2]), mix(zero, x[6]),
               round, k, y);
}

// Pass-1 outputs of four lines: (y + 2048) >> 12, computed in place; ORs into
// *outside the high halves of the 32-bit lanes after a bias of 2^15, which are
// all zero exactly when every output fits 16 bits.
inline void descale_pass1(__m128i y[8], __m128i *outside) {
    const __m128i bias = _mm_set1_epi32(0x8000);
    __m128i o = *outside;
    QRL_UNROLL
    for (int i = 0; i < 8; ++i) {
        y[i] = _mm_srai_epi32(y[i], 12);
        o = _mm_or_si128(o, _mm_add_epi32(y[i], bias));
    }
    *outside = o;
}

inline bool fits16(__m128i outside) {
    outside = _mm_and_si128(outside, _mm_set1_epi32(static_cast<int32_t>(0xffff0000u)));
    return _mm_movemask_epi8(_mm_cmpeq_epi32(outside, _mm_setzero_si128())) == 0xffff;
}

} // namespace

void idct_accurate_8x8_sse2(int16_t *block) {
    __m128i x[8];
    QRL_UNROLL
    for (int v = 0; v < 8; ++v) {
        x[v] = load8(block + 8 * v);
    }
    const __m128i zero = _mm_setzero_si128();
    const __m128i rows4to7 = _mm_or_si128(_mm_or_si128(x[4], x[5]), _mm_or_si128(x[6], x[7]));
    const bool lower_zero = _mm_movemask_epi8(_mm_cmpeq_epi16(rows4to7, zero)) == 0xffff;
    if (lower_zero) {
        const __m128i rows1to3 = _mm_or_si128(_mm_or_si128(x[1], x[2]), x[3]);
        const __m128i ac = _mm_or_si128(rows1to3, _mm_srli_si128(x[0], 2)); // drops the DC lane
        const int32_t dc = block[0];
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(ac, zero)) == 0xffff && dc > -4096 && dc < 4096) {
            int32_t sample = ((dc + 4) >> 3) + 128;
            sample = sample < 0 ? 0 : (sample > 255 ? 255 : sample);
            const __m128i samples = _mm_set1_epi16(static_cast<int16_t>(sample));
            for (int v = 0; v < 8; ++v) store8(block + 8 * v, samples);
            return;
        }
    }
    const Constants k = make_constants();
    transpose8(x); // x[k] lane v = block[8v + k]

    // Pass 1: rows, (y + 2048) >> 12; note whether every result fits 16 bits.
    __m128i lo[8], hi[8];
    __m128i outside = zero;
    butterfly_half<false>(x, k.round12, k, lo);
    descale_pass1(lo, &outside);
    if (lower_zero) {
        if (!fits16(outside)) {
            idct_accurate_8x8(block);
            return;
        }
        QRL_UNROLL
        for (int i = 0; i < 8; ++i) {
            x[i] = _mm_packs_epi32(lo[i], zero); // exact: every value fits; rows 4..7 are zero
        }
    } else {
        butterfly_half<true>(x, k.round12, k, hi);
        descale_pass1(hi, &outside);
        if (!fits16(outside)) {
            idct_accurate_8x8(block);
            return;
        }
        QRL_UNROLL
        for (int i = 0; i < 8; ++i) {
            x[i] = _mm_packs_epi32(lo[i], hi[i]); // exact: every value fits
        }
    }
    transpose8(x); // x[k] lane u = w[8k + u]

    // Pass 2: columns, (y + 2^20) >> 21, + 128, clamped to 0..255.
    const __m128i round21 = _mm_set1_epi32(1048576);
    butterfly_half<false>(x, round21, k, lo);
    butterfly_half<true>(x, round21, k, hi);
    QRL_UNROLL
    for (int i = 0; i < 8; i += 2) {
        // |values| <= 1024, so the packs and the + 128 are exact.
        const __m128i a = _mm_packs_epi32(_mm_srai_epi32(lo[i], 21), _mm_srai_epi32(hi[i], 21));
        const __m128i b = _mm_packs_epi32(_mm_srai_epi32(lo[i + 1], 21), _mm_srai_epi32(hi[i + 1], 21));
        store_samples(block + 8 * i, block + 8 * i + 8, a, b);
    }
}

} // namespace qrl
