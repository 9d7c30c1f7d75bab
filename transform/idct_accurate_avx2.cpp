// AVX2 accurate 8x8 inverse DCT for set D on processors that have AVX2:
// the arithmetic of idct_accurate_8x8_sse2 (bit-exact with the portable
// idct_accurate_8x8 for every input block), with all eight lines of a pass in
// one group of 256-bit registers instead of two groups of 128-bit ones.
//
// Everything here has internal linkage apart from the kernel itself, so no
// AVX-encoded helper can stand in for an SSE2 one elsewhere.
#include <immintrin.h>

#include "transform/fixed_point.h"
#include "transform/transform.h"

#define QRL_UNROLL _Pragma("GCC unroll 8")

namespace qrl {
namespace {

inline __m128i load8(const int16_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

// A 32-bit lane with coefficient a for its low 16-bit word and b for its high one.
inline __m256i pair(int32_t a, int32_t b) {
    const uint32_t lo = static_cast<uint16_t>(static_cast<int16_t>(a));
    const uint32_t hi = static_cast<uint16_t>(static_cast<int16_t>(b));
    return _mm256_set1_epi32(static_cast<int32_t>(lo | (hi << 16)));
}

constexpr int32_t kOverflow16 = 65536; // 2^16, removed from 42813 (see idct_accurate_sse2.cpp)

struct Constants {
    __m256i c04_sum, c04_dif, c26_e, c26_f, c17_o1, c17_o2, c53_o3, c53_o4, c4, round12;
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
    k.c4 = _mm256_set1_epi16(static_cast<int16_t>(kIdct_cos_4_q13));
    k.round12 = _mm256_set1_epi32(2048);
    return k;
}

// t * 5793 modulo 2^32 (as in idct_accurate_sse2.cpp).
inline __m256i mul_cos4(__m256i t, const Constants &k) {
    return _mm256_add_epi32(_mm256_mullo_epi16(t, k.c4), _mm256_slli_epi32(_mm256_mulhi_epu16(t, k.c4), 16));
}

// Input pairs (a, b) of lines 0..7 as eight 32-bit lanes.
inline __m256i mix(__m128i a, __m128i b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)), _mm_unpackhi_epi16(a, b), 1);
}

// The butterfly on eight lines: x[k] holds input k of lines 0..7; y[k]
// receives output k (plus `round`) as 32-bit lanes, lines in order.
[[gnu::always_inline]] inline void butterfly8(const __m128i x[8], __m256i round, const Constants &k, __m256i y[8]) {
    const __m128i zero = _mm_setzero_si128();
    const __m256i p04 = mix(x[0], x[4]), p26 = mix(x[2], x[6]), p17 = mix(x[1], x[7]), p53 = mix(x[5], x[3]);
    const __m256i x2h = mix(zero, x[2]), x6h = mix(zero, x[6]);

    const __m256i o1 = _mm256_madd_epi16(p17, k.c17_o1);
    const __m256i o2 = _mm256_madd_epi16(p17, k.c17_o2);
    const __m256i o3 = _mm256_madd_epi16(p53, k.c53_o3);
    const __m256i o4 = _mm256_madd_epi16(p53, k.c53_o4);
    const __m256i p = mul_cos4(_mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(o1, o3), k.round12), 12), k);
    const __m256i q = mul_cos4(_mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(o2, o4), k.round12), 12), k);
    const __m256i d13 = _mm256_sub_epi32(o1, o3);
    const __m256i d24 = _mm256_sub_epi32(o2, o4);
    const __m256i r = _mm256_add_epi32(d13, d24);
    const __m256i s = _mm256_sub_epi32(d13, d24);

    const __m256i g = _mm256_add_epi32(_mm256_slli_epi32(_mm256_madd_epi16(p04, k.c04_sum), 1), round);
    const __m256i h = _mm256_add_epi32(_mm256_slli_epi32(_mm256_madd_epi16(p04, k.c04_dif), 1), round);
    const __m256i e = _mm256_add_epi32(_mm256_madd_epi16(p26, k.c26_e), x2h);
    const __m256i f = _mm256_sub_epi32(_mm256_madd_epi16(p26, k.c26_f), x6h);
    const __m256i e0 = _mm256_add_epi32(g, e);
    const __m256i e3 = _mm256_sub_epi32(g, e);
    const __m256i e1 = _mm256_add_epi32(h, f);
    const __m256i e2 = _mm256_sub_epi32(h, f);

    y[0] = _mm256_add_epi32(e0, p);
    y[7] = _mm256_sub_epi32(e0, p);
    y[1] = _mm256_add_epi32(e1, r);
    y[6] = _mm256_sub_epi32(e1, r);
    y[2] = _mm256_add_epi32(e2, s);
    y[5] = _mm256_sub_epi32(e2, s);
    y[3] = _mm256_add_epi32(e3, q);
    y[4] = _mm256_sub_epi32(e3, q);
}

// Outputs i and i + 1 (eight 32-bit lanes each, values that fit 16 bits) as
// one register: output i in the low half, i + 1 in the high half.
inline __m256i pack_two(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0));
}

inline void transpose8(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

} // namespace

void idct_accurate_8x8_avx2(int16_t *block) {
    __m128i x[8];
    QRL_UNROLL
    for (int v = 0; v < 8; ++v) x[v] = load8(block + 8 * v);

    // A block with only a DC coefficient (|DC| < 4096): 64 equal samples.
    const __m128i rest = _mm_or_si128(_mm_or_si128(_mm_or_si128(x[1], x[2]), _mm_or_si128(x[3], x[4])),
                                      _mm_or_si128(_mm_or_si128(x[5], x[6]), _mm_or_si128(x[7], _mm_srli_si128(x[0], 2))));
    const int32_t dc = block[0];
    if (_mm_testz_si128(rest, rest) && dc > -4096 && dc < 4096) {
        int32_t sample = ((dc + 4) >> 3) + 128;
        sample = sample < 0 ? 0 : (sample > 255 ? 255 : sample);
        const __m256i samples = _mm256_set1_epi16(static_cast<int16_t>(sample));
        for (int v = 0; v < 4; ++v) _mm256_storeu_si256(reinterpret_cast<__m256i *>(block + 16 * v), samples);
        return;
    }

    const Constants k = make_constants();
    transpose8(x); // x[k] lane v = block[8v + k]

    // Pass 1: rows, (y + 2048) >> 12; the block goes to the portable kernel
    // when a result does not fit 16 bits.
    __m256i y[8];
    butterfly8(x, k.round12, k, y);
    const __m256i bias = _mm256_set1_epi32(0x8000);
    __m256i outside = _mm256_setzero_si256();
    QRL_UNROLL
    for (int i = 0; i < 8; ++i) {
        y[i] = _mm256_srai_epi32(y[i], 12);
        outside = _mm256_or_si256(outside, _mm256_add_epi32(y[i], bias));
    }
    const __m256i high_words = _mm256_set1_epi32(static_cast<int32_t>(0xffff0000u));
    if (!_mm256_testz_si256(outside, high_words)) {
        idct_accurate_8x8(block);
        return;
    }
    QRL_UNROLL
    for (int i = 0; i < 8; i += 2) {
        const __m256i two = pack_two(y[i], y[i + 1]); // exact: every value fits
        x[i] = _mm256_castsi256_si128(two);
        x[i + 1] = _mm256_extracti128_si256(two, 1);
    }
    transpose8(x); // x[k] lane u = w[8k + u]

    // Pass 2: columns, (y + 2^20) >> 21, + 128, clamped to 0..255; rows i
    // and i + 1 are contiguous in the block.
    butterfly8(x, _mm256_set1_epi32(1048576), k, y);
    const __m256i shift = _mm256_set1_epi16(128);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi16(255);
    QRL_UNROLL
    for (int i = 0; i < 8; i += 2) {
        // |values| <= 1024, so the pack and the + 128 are exact.
        const __m256i rows = pack_two(_mm256_srai_epi32(y[i], 21), _mm256_srai_epi32(y[i + 1], 21));
        const __m256i samples = _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(rows, shift), zero), top);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(block + 8 * i), samples);
    }
}

} // namespace qrl
