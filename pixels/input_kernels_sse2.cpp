// SSE2 encoder input kernels. They give the portable kernels' samples: luma
// and full-resolution chroma as 16-bit sums whose wrapping cannot change the
// result (see luma8 and chroma8), downsampled chroma as 32-bit weighted sums
// (16-bit pairs multiplied and added with pmaddwd), all with the portable
// biases and shifts. Interleaved pixels are split into channels by byte
// riffles (load_planar16).
#include <emmintrin.h>

#include "pixels/input.h"

namespace qrl {
namespace {

struct Order {
    int32_t r, g, b;
};
constexpr Order kRgb{0, 1, 2};
constexpr Order kBgr{2, 1, 0};

// 8 lanes of a*x + b*y + c*z + bias, each product pair in 32 bits, shifted.
template <int32_t Shift>
inline __m128i weighted(__m128i x, __m128i y, __m128i z, __m128i xy_weights, __m128i z1_weights) {
    const __m128i one = _mm_set1_epi16(1);
    const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(x, y), xy_weights),
                                     _mm_madd_epi16(_mm_unpacklo_epi16(z, one), z1_weights));
    const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(x, y), xy_weights),
                                     _mm_madd_epi16(_mm_unpackhi_epi16(z, one), z1_weights));
    return _mm_packs_epi32(_mm_srai_epi32(lo, Shift), _mm_srai_epi32(hi, Shift));
}

inline __m128i pair(int16_t a, int16_t b) {
    return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(b)) << 16) |
                                               static_cast<uint16_t>(a)));
}

// Sums of neighbouring lanes of two 8-lane vectors (16 values -> 8).
inline __m128i pair_sums(__m128i a, __m128i b) {
    const __m128i one = _mm_set1_epi16(1);
    return _mm_packs_epi32(_mm_madd_epi16(a, one), _mm_madd_epi16(b, one));
}

// Sixteen interleaved pixels of Bpp (3 or 4) bytes, eight from `first` and
// eight from `second`, as one 16-byte register per channel. The bytes are
// riffled four times: the first half of the 16 * Bpp bytes interleaved with
// the second half. A riffle of n = 16 * Bpp bytes moves byte j to 2j mod
// (n - 1) (the last byte stays), so four move it to 16j mod (n - 1); for byte
// j = Bpp * i + c (pixel i, channel c) that is 16c + i, because 16 * Bpp = 1
// mod (n - 1): channel c ends up in register c, pixels in order.
template <int32_t Bpp>
inline void load_planar16(const uint8_t *first, const uint8_t *second, __m128i ch[Bpp]) {
    const auto at = [](const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); };
    if constexpr (Bpp == 3) {
        __m128i a = at(first);
        __m128i b = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(first + 16)),
                                       _mm_loadl_epi64(reinterpret_cast<const __m128i *>(second)));
        __m128i c = at(second + 8);
        #pragma GCC unroll 8
        for (int32_t round = 0; round < 4; ++round) {
            // Halves h0..h5 = (a, b, c): interleave h0:h3, h1:h4, h2:h5.
            const __m128i na = _mm_unpacklo_epi8(a, _mm_srli_si128(b, 8));
            const __m128i nb = _mm_unpacklo_epi8(_mm_srli_si128(a, 8), c);
            const __m128i nc = _mm_unpacklo_epi8(b, _mm_srli_si128(c, 8));
            a = na;
            b = nb;
            c = nc;
        }
        ch[0] = a;
        ch[1] = b;
        ch[2] = c;
    } else {
        static_assert(Bpp == 4);
        __m128i a = at(first), b = at(first + 16), c = at(second), d = at(second + 16);
        #pragma GCC unroll 8
        for (int32_t round = 0; round < 4; ++round) {
            // Halves h0..h7 = (a, b, c, d): interleave h0:h4, h1:h5, h2:h6, h3:h7.
            const __m128i na = _mm_unpacklo_epi8(a, c), nb = _mm_unpackhi_epi8(a, c);
            const __m128i nc = _mm_unpacklo_epi8(b, d), nd = _mm_unpackhi_epi8(b, d);
            a = na;
            b = nb;
            c = nc;
            d = nd;
        }
        ch[0] = a;
        ch[1] = b;
        ch[2] = c;
        ch[3] = d;
    }
}

// Y = (77 R + 150 G + 29 B - 32640) >> 8 in 16-bit lanes: the sum wraps, but
// the true result lies within -32640..32640, so the wrapped lanes hold it.
// A weight the compiler cannot see through, so that it keeps one multiply
// instead of expanding it into shifts and adds.
inline __m128i weight(int16_t w) {
    __m128i v = _mm_set1_epi16(w);
    __asm__("" : "+x"(v));
    return v;
}

inline __m128i luma8(__m128i r, __m128i g, __m128i b) {
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(r, weight(77)), _mm_mullo_epi16(g, weight(150)));
    t = _mm_add_epi16(t, _mm_mullo_epi16(b, weight(29)));
    return _mm_srai_epi16(_mm_add_epi16(t, _mm_set1_epi16(-32640)), 8);
}

// (128 p - wa a - wb b + 128) >> 8 per pixel in 16-bit lanes: the sum lies in
// -32512..32768, so with 127 * 256 added it fits the unsigned lanes, and the
// logical shift less 127 is the arithmetic shift of the sum.
inline __m128i chroma8(__m128i p, __m128i a, __m128i b, int16_t wa, int16_t wb) {
    __m128i t = _mm_sub_epi16(_mm_slli_epi16(p, 7), _mm_mullo_epi16(a, weight(wa)));
    t = _mm_sub_epi16(t, _mm_mullo_epi16(b, weight(wb)));
    t = _mm_add_epi16(t, _mm_set1_epi16(128 + 127 * 256));
    return _mm_sub_epi16(_mm_srli_epi16(t, 8), _mm_set1_epi16(127));
}

inline void store8(int16_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }

template <Order O, bool Invert, int32_t H, int32_t V, int32_t Bpp>
void convert_mcu(const uint8_t *pixels, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2,
                 int16_t *c3) {
    constexpr int32_t kShift = 8 + (H - 1) + (V - 1);
    const __m128i zero = _mm_setzero_si128();
    const __m128i k_bias = _mm_set1_epi16(128);
    // Channels of 16 pixels as 16-bit lanes: [0] the first eight, [1] the next.
    struct Wide {
        __m128i r[2], g[2], b[2], k[2];
    };
    const auto load = [&](const uint8_t *first, const uint8_t *second) {
        __m128i ch[Bpp];
        load_planar16<Bpp>(first, second, ch);
        __m128i r = ch[O.r], g = ch[O.g], b = ch[O.b];
        if constexpr (Invert) {
            const __m128i ones = _mm_set1_epi8(-1);
            r = _mm_xor_si128(r, ones);
            g = _mm_xor_si128(g, ones);
            b = _mm_xor_si128(b, ones);
        }
        Wide w;
        w.r[0] = _mm_unpacklo_epi8(r, zero);
        w.r[1] = _mm_unpackhi_epi8(r, zero);
        w.g[0] = _mm_unpacklo_epi8(g, zero);
        w.g[1] = _mm_unpackhi_epi8(g, zero);
        w.b[0] = _mm_unpacklo_epi8(b, zero);
        w.b[1] = _mm_unpackhi_epi8(b, zero);
        if constexpr (Bpp == 4) {
            w.k[0] = _mm_sub_epi16(_mm_unpacklo_epi8(ch[3], zero), k_bias);
            w.k[1] = _mm_sub_epi16(_mm_unpackhi_epi8(ch[3], zero), k_bias);
        }
        return w;
    };
    const auto row_at = [&](int32_t y) { return pixels + static_cast<intptr_t>(y) * line_bytes; };

    if constexpr (H == 1) {
        static_assert(V == 1);
        // Two rows of eight pixels per load.
        #pragma GCC unroll 8
        for (int32_t y = 0; y < 8; y += 2) {
            const Wide w = load(row_at(y), row_at(y + 1));
            #pragma GCC unroll 8
            for (int32_t i = 0; i < 2; ++i) {
                const int32_t at = (y + i) * 8;
                store8(c0 + at, luma8(w.r[i], w.g[i], w.b[i]));
                store8(c1 + at, chroma8(w.b[i], w.r[i], w.g[i], 43, 85));
                store8(c2 + at, chroma8(w.r[i], w.g[i], w.b[i], 107, 21));
                if constexpr (Bpp == 4) store8(c3 + at, w.k[i]);
            }
        }
    } else {
        const __m128i cb_rg = pair(-43, -85);
        const __m128i cb_b = pair(128, static_cast<int16_t>(1 << (kShift - 1)));
        const __m128i cr_rg = pair(128, -107);
        const __m128i cr_b = pair(-21, static_cast<int16_t>(1 << (kShift - 1)));
        for (int32_t cy = 0; cy < 8; ++cy) {
            __m128i sr0 = zero, sr1 = zero, sg0 = zero, sg1 = zero, sb0 = zero, sb1 = zero;
            for (int32_t dy = 0; dy < V; ++dy) {
                // One row of sixteen pixels: block 0 of the row, then block 1.
                const int32_t y = cy * V + dy;
                const uint8_t *row = row_at(y);
                const Wide w = load(row, row + 8 * Bpp);
                int16_t *luma = c0 + (y >> 3) * H * 64 + (y & 7) * 8;
                store8(luma, luma8(w.r[0], w.g[0], w.b[0]));
                store8(luma + 64, luma8(w.r[1], w.g[1], w.b[1]));
                if constexpr (Bpp == 4) {
                    int16_t *k = c3 + (y >> 3) * H * 64 + (y & 7) * 8;
                    store8(k, w.k[0]);
                    store8(k + 64, w.k[1]);
                }
                sr0 = _mm_add_epi16(sr0, w.r[0]);
                sr1 = _mm_add_epi16(sr1, w.r[1]);
                sg0 = _mm_add_epi16(sg0, w.g[0]);
                sg1 = _mm_add_epi16(sg1, w.g[1]);
                sb0 = _mm_add_epi16(sb0, w.b[0]);
                sb1 = _mm_add_epi16(sb1, w.b[1]);
            }
            const __m128i tr = pair_sums(sr0, sr1);
            const __m128i tg = pair_sums(sg0, sg1);
            const __m128i tb = pair_sums(sb0, sb1);
            store8(c1 + cy * 8, weighted<kShift>(tr, tg, tb, cb_rg, cb_b));
            store8(c2 + cy * 8, weighted<kShift>(tr, tg, tb, cr_rg, cr_b));
        }
    }
}

} // namespace

void get_gray_8x8_sse2(const uint8_t *pixels, int32_t line_bytes, int16_t *block) {
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i zero = _mm_setzero_si128();
    for (int32_t y = 0; y < 8; ++y) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(pixels + static_cast<intptr_t>(y) * line_bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(block + 8 * y), _mm_sub_epi16(_mm_unpacklo_epi8(v, zero), bias));
    }
}

void rgb_to_ycc_h1v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kRgb, false, 1, 1, 3>(p, lb, c0, c1, c2, nullptr);
}
void rgb_to_ycc_h2v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kRgb, false, 2, 1, 3>(p, lb, c0, c1, c2, nullptr);
}
void rgb_to_ycc_h2v2_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kRgb, false, 2, 2, 3>(p, lb, c0, c1, c2, nullptr);
}
void bgr_to_ycc_h1v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kBgr, false, 1, 1, 3>(p, lb, c0, c1, c2, nullptr);
}
void bgr_to_ycc_h2v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kBgr, false, 2, 1, 3>(p, lb, c0, c1, c2, nullptr);
}
void bgr_to_ycc_h2v2_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    convert_mcu<kBgr, false, 2, 2, 3>(p, lb, c0, c1, c2, nullptr);
}
void cmyk_to_ycck_h1v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2,
                            int16_t *c3) {
    convert_mcu<kRgb, true, 1, 1, 4>(p, lb, c0, c1, c2, c3);
}
void cmyk_to_ycck_h2v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2,
                            int16_t *c3) {
    convert_mcu<kRgb, true, 2, 1, 4>(p, lb, c0, c1, c2, c3);
}
void cmyk_to_ycck_h2v2_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2,
                            int16_t *c3) {
    convert_mcu<kRgb, true, 2, 2, 4>(p, lb, c0, c1, c2, c3);
}

void packed422_to_ycc_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2) {
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    for (int32_t y = 0; y < 8; ++y) {
        const uint8_t *row = p + static_cast<intptr_t>(y) * lb;
        // 16 pixels: 32 bytes Y0 Cb Y1 Cr ...
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(c0 + 8 * y), _mm_sub_epi16(_mm_and_si128(a, low_bytes), bias));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(c0 + 64 + 8 * y), _mm_sub_epi16(_mm_and_si128(b, low_bytes), bias));
        // Chroma bytes (odd bytes): Cb at 4k + 1, Cr at 4k + 3.
        const __m128i ca = _mm_srli_epi16(a, 8); // Cb0 Cr0 Cb1 Cr1 ...
        const __m128i cb = _mm_srli_epi16(b, 8);
        const __m128i dwords = _mm_set1_epi32(0x0000FFFF);
        const __m128i cbs = _mm_packs_epi32(_mm_and_si128(ca, dwords), _mm_and_si128(cb, dwords));
        const __m128i crs = _mm_packs_epi32(_mm_srli_epi32(ca, 16), _mm_srli_epi32(cb, 16));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(c1 + 8 * y), _mm_sub_epi16(cbs, bias));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(c2 + 8 * y), _mm_sub_epi16(crs, bias));
    }
}

} // namespace qrl
