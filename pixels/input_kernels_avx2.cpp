// AVX2 encoder input kernels for set D on processors with AVX2: the SSE2
// kernels' arithmetic (input_kernels_sse2.cpp) with two rows side by side,
// one in each 128-bit lane. The byte riffles, unpacks, packs and pair sums
// all work within a lane, so each lane computes what one SSE2 register does;
// the samples are the portable kernels'.
#include <immintrin.h>

#include "pixels/input.h"

namespace qrl {
namespace {

struct Order {
    int32_t r, g, b;
};
constexpr Order kRgb{0, 1, 2};
constexpr Order kBgr{2, 1, 0};

inline __m256i two(__m128i low, __m128i high) { return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1); }
inline __m128i at(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline __m128i at8(const uint8_t *p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)); }

// Per lane L: sixteen RGB pixels, eight from first[L] and eight from
// second[L], as one 16-byte channel each (four riffles, see load_planar16 in
// input_kernels_sse2.cpp).
inline void load_planar(const uint8_t *const first[2], const uint8_t *const second[2], __m256i ch[3]) {
    __m256i a = two(at(first[0]), at(first[1]));
    __m256i b = two(_mm_unpacklo_epi64(at8(first[0] + 16), at8(second[0])),
                    _mm_unpacklo_epi64(at8(first[1] + 16), at8(second[1])));
    __m256i c = two(at(second[0] + 8), at(second[1] + 8));
#pragma GCC unroll 4
    for (int32_t round = 0; round < 4; ++round) {
        const __m256i na = _mm256_unpacklo_epi8(a, _mm256_srli_si256(b, 8));
        const __m256i nb = _mm256_unpacklo_epi8(_mm256_srli_si256(a, 8), c);
        const __m256i nc = _mm256_unpacklo_epi8(b, _mm256_srli_si256(c, 8));
        a = na;
        b = nb;
        c = nc;
    }
    ch[0] = a;
    ch[1] = b;
    ch[2] = c;
}

// A weight the compiler keeps as one multiply (see input_kernels_sse2.cpp).
inline __m256i weight(int16_t w) {
    __m256i v = _mm256_set1_epi16(w);
    __asm__("" : "+x"(v));
    return v;
}

// Y = (77 R + 150 G + 29 B - 32640) >> 8 in wrapping 16-bit lanes.
inline __m256i luma(__m256i r, __m256i g, __m256i b) {
    __m256i t = _mm256_add_epi16(_mm256_mullo_epi16(r, weight(77)), _mm256_mullo_epi16(g, weight(150)));
    t = _mm256_add_epi16(t, _mm256_mullo_epi16(b, weight(29)));
    return _mm256_srai_epi16(_mm256_add_epi16(t, _mm256_set1_epi16(-32640)), 8);
}

// (128 p - wa a - wb b + 128) >> 8 per pixel, in unsigned 16-bit lanes.
inline __m256i chroma(__m256i p, __m256i a, __m256i b, int16_t wa, int16_t wb) {
    __m256i t = _mm256_sub_epi16(_mm256_slli_epi16(p, 7), _mm256_mullo_epi16(a, weight(wa)));
    t = _mm256_sub_epi16(t, _mm256_mullo_epi16(b, weight(wb)));
    t = _mm256_add_epi16(t, _mm256_set1_epi16(128 + 127 * 256));
    return _mm256_sub_epi16(_mm256_srli_epi16(t, 8), _mm256_set1_epi16(127));
}

inline __m256i pair(int16_t a, int16_t b) {
    return _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) |
                                                  static_cast<uint16_t>(a)));
}

// (a x + b y + c z + bias) >> Shift per lane from 16-bit sums, in 32 bits.
template <int32_t Shift>
inline __m256i weighted(__m256i x, __m256i y, __m256i z, __m256i xy_weights, __m256i z1_weights) {
    const __m256i one = _mm256_set1_epi16(1);
    const __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(x, y), xy_weights),
                                        _mm256_madd_epi16(_mm256_unpacklo_epi16(z, one), z1_weights));
    const __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(x, y), xy_weights),
                                        _mm256_madd_epi16(_mm256_unpackhi_epi16(z, one), z1_weights));
    return _mm256_packs_epi32(_mm256_srai_epi32(lo, Shift), _mm256_srai_epi32(hi, Shift));
}

// Sums of neighbouring 16-bit lanes of a and b, eight per 128-bit lane.
inline __m256i pair_sums(__m256i a, __m256i b) {
    const __m256i one = _mm256_set1_epi16(1);
    return _mm256_packs_epi32(_mm256_madd_epi16(a, one), _mm256_madd_epi16(b, one));
}

inline void store_lanes(int16_t *low, int16_t *high, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(low), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(high), _mm256_extracti128_si256(v, 1));
}

// The channels of 2 x 16 pixels as 16-bit lanes: [0] the first eight pixels
// of each 128-bit lane's sixteen, [1] the next eight.
struct Wide {
    __m256i r[2], g[2], b[2];
};

template <Order O>
inline Wide load(const uint8_t *const first[2], const uint8_t *const second[2]) {
    __m256i ch[3];
    load_planar(first, second, ch);
    const __m256i zero = _mm256_setzero_si256();
    Wide w;
    w.r[0] = _mm256_unpacklo_epi8(ch[O.r], zero);
    w.r[1] = _mm256_unpackhi_epi8(ch[O.r], zero);
    w.g[0] = _mm256_unpacklo_epi8(ch[O.g], zero);
    w.g[1] = _mm256_unpackhi_epi8(ch[O.g], zero);
    w.b[0] = _mm256_unpacklo_epi8(ch[O.b], zero);
    w.b[1] = _mm256_unpackhi_epi8(ch[O.b], zero);
    return w;
}

template <Order O, int32_t H, int32_t V>
void convert_mcu(const uint8_t *pixels, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2) {
    const auto row_at = [&](int32_t y) { return pixels + static_cast<intptr_t>(y) * line_bytes; };
    if constexpr (H == 1) {
        // Lane 0: rows y and y + 1, lane 1: rows y + 2 and y + 3.
        for (int32_t y = 0; y < 8; y += 4) {
            const uint8_t *first[2] = {row_at(y), row_at(y + 2)};
            const uint8_t *second[2] = {row_at(y + 1), row_at(y + 3)};
            const Wide w = load<O>(first, second);
            for (int32_t i = 0; i < 2; ++i) {
                const int32_t low = (y + i) * 8, high = (y + 2 + i) * 8;
                store_lanes(c0 + low, c0 + high, luma(w.r[i], w.g[i], w.b[i]));
                store_lanes(c1 + low, c1 + high, chroma(w.b[i], w.r[i], w.g[i], 43, 85));
                store_lanes(c2 + low, c2 + high, chroma(w.r[i], w.g[i], w.b[i], 107, 21));
            }
        }
    } else {
        constexpr int32_t kShift = 8 + (H - 1) + (V - 1);
        const __m256i cb_rg = pair(-43, -85);
        const __m256i cb_b = pair(128, static_cast<int16_t>(1 << (kShift - 1)));
        const __m256i cr_rg = pair(128, -107);
        const __m256i cr_b = pair(-21, static_cast<int16_t>(1 << (kShift - 1)));
        // Lane 0: row y, lane 1: row y + 1, sixteen pixels each.
        for (int32_t y = 0; y < 8 * V; y += 2) {
            const uint8_t *first[2] = {row_at(y), row_at(y + 1)};
            const uint8_t *second[2] = {first[0] + 24, first[1] + 24};
            const Wide w = load<O>(first, second);
            int16_t *luma_low = c0 + (y >> 3) * 2 * 64 + (y & 7) * 8;
            int16_t *luma_high = c0 + ((y + 1) >> 3) * 2 * 64 + ((y + 1) & 7) * 8;
            store_lanes(luma_low, luma_high, luma(w.r[0], w.g[0], w.b[0]));
            store_lanes(luma_low + 64, luma_high + 64, luma(w.r[1], w.g[1], w.b[1]));
            if constexpr (V == 1) {
                const __m256i tr = pair_sums(w.r[0], w.r[1]);
                const __m256i tg = pair_sums(w.g[0], w.g[1]);
                const __m256i tb = pair_sums(w.b[0], w.b[1]);
                store_lanes(c1 + y * 8, c1 + (y + 1) * 8, weighted<kShift>(tr, tg, tb, cb_rg, cb_b));
                store_lanes(c2 + y * 8, c2 + (y + 1) * 8, weighted<kShift>(tr, tg, tb, cr_rg, cr_b));
            } else {
                // Sums over the two rows, then over pixel pairs; rows y / 2 of
                // the chroma blocks, computed in lane 0 (lane 1 repeats them).
                const auto vertical = [](__m256i v) {
                    const __m128i s = _mm_add_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
                    return _mm256_broadcastsi128_si256(s);
                };
                const __m256i tr = pair_sums(vertical(w.r[0]), vertical(w.r[1]));
                const __m256i tg = pair_sums(vertical(w.g[0]), vertical(w.g[1]));
                const __m256i tb = pair_sums(vertical(w.b[0]), vertical(w.b[1]));
                const int32_t at = (y / 2) * 8;
                _mm_storeu_si128(reinterpret_cast<__m128i *>(c1 + at),
                                 _mm256_castsi256_si128(weighted<kShift>(tr, tg, tb, cb_rg, cb_b)));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(c2 + at),
                                 _mm256_castsi256_si128(weighted<kShift>(tr, tg, tb, cr_rg, cr_b)));
            }
        }
    }
}

} // namespace

void rgb_to_ycc_h1v1_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kRgb, 1, 1>(p, lb, c0, c1, c2);
}
void rgb_to_ycc_h2v1_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kRgb, 2, 1>(p, lb, c0, c1, c2);
}
void rgb_to_ycc_h2v2_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kRgb, 2, 2>(p, lb, c0, c1, c2);
}
void bgr_to_ycc_h1v1_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kBgr, 1, 1>(p, lb, c0, c1, c2);
}
void bgr_to_ycc_h2v1_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kBgr, 2, 1>(p, lb, c0, c1, c2);
}
void bgr_to_ycc_h2v2_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kBgr, 2, 2>(p, lb, c0, c1, c2);
}

} // namespace qrl
