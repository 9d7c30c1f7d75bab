// SSE2 encoder input kernels. They form the portable kernels' weighted sums
// in 32-bit lanes (16-bit pairs multiplied and added with pmaddwd) with the
// same biases and arithmetic shifts, so they give the same samples.
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

template <Order O, bool Invert, int32_t H, int32_t V, int32_t Bpp>
void convert_mcu(const uint8_t *pixels, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2,
                 int16_t *c3) {
    constexpr int32_t kW = 8 * H;
    constexpr int32_t kShift = 8 + (H - 1) + (V - 1);
    const __m128i y_rg = pair(77, 150);
    const __m128i y_b = pair(29, -32640);
    const __m128i cb_rg = pair(-43, -85);
    const __m128i cb_b = pair(128, static_cast<int16_t>(1 << (kShift - 1)));
    const __m128i cr_rg = pair(128, -107);
    const __m128i cr_b = pair(-21, static_cast<int16_t>(1 << (kShift - 1)));
    for (int32_t cy = 0; cy < 8; ++cy) {
        __m128i sr[2] = {_mm_setzero_si128(), _mm_setzero_si128()};
        __m128i sg[2] = {_mm_setzero_si128(), _mm_setzero_si128()};
        __m128i sb[2] = {_mm_setzero_si128(), _mm_setzero_si128()};
        for (int32_t dy = 0; dy < V; ++dy) {
            const int32_t y = cy * V + dy;
            const uint8_t *row = pixels + static_cast<intptr_t>(y) * line_bytes;
            alignas(16) int16_t r[kW], g[kW], b[kW];
            for (int32_t x = 0; x < kW; ++x) {
                const uint8_t *p = row + x * Bpp;
                r[x] = p[O.r];
                g[x] = p[O.g];
                b[x] = p[O.b];
                if constexpr (Invert) {
                    r[x] = static_cast<int16_t>(255 - r[x]);
                    g[x] = static_cast<int16_t>(255 - g[x]);
                    b[x] = static_cast<int16_t>(255 - b[x]);
                }
                if constexpr (Bpp == 4)
                    c3[((y >> 3) * H + (x >> 3)) * 64 + (y & 7) * 8 + (x & 7)] = static_cast<int16_t>(p[3] - 128);
            }
            for (int32_t h = 0; h < H; ++h) {
                const __m128i vr = _mm_load_si128(reinterpret_cast<const __m128i *>(r + 8 * h));
                const __m128i vg = _mm_load_si128(reinterpret_cast<const __m128i *>(g + 8 * h));
                const __m128i vb = _mm_load_si128(reinterpret_cast<const __m128i *>(b + 8 * h));
                const __m128i luma = weighted<8>(vr, vg, vb, y_rg, y_b);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(c0 + ((y >> 3) * H + h) * 64 + (y & 7) * 8), luma);
                sr[h] = _mm_add_epi16(sr[h], vr);
                sg[h] = _mm_add_epi16(sg[h], vg);
                sb[h] = _mm_add_epi16(sb[h], vb);
            }
        }
        __m128i tr = sr[0], tg = sg[0], tb = sb[0];
        if constexpr (H == 2) {
            tr = pair_sums(sr[0], sr[1]);
            tg = pair_sums(sg[0], sg[1]);
            tb = pair_sums(sb[0], sb[1]);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(c1 + cy * 8), weighted<kShift>(tr, tg, tb, cb_rg, cb_b));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(c2 + cy * 8), weighted<kShift>(tr, tg, tb, cr_rg, cr_b));
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
