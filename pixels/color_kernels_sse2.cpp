// SSE2 twins of the output kernels. They compute the green term exactly as
// the portable kernels do (32-bit multiply-adds), but the red and blue terms
// as high halves of 16-bit products:
//   r' = ((16 Cr) x 5744) >> 16, minus 179   (= floor(359 Cr / 256) - 179)
//   b' = ((16 Cb) x 7264) >> 16, minus 227   (= floor(454 Cb / 256) - 227)
// so R and B can be one lower than the portable result for some Cr and Cb
// values; everything else, including the byte layout, is identical. Pixels
// are saturated to 8 bits when packed (the same as clamping).
#include "pixels/color_kernels.h"

#ifdef QRL_X86_SIMD

#include <emmintrin.h>

#include <cstring>

#include "pixels/color_constants.h"

namespace qrl {
namespace {

enum class Fmt { Rgb, Bgr, Rgba, Cmyk };
enum class Lay { H1V1, H2V1, H2V2 };

inline __m128i load8(const int16_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

struct Terms {
    __m128i r, g, b; // eight 16-bit lanes: red and blue added to Y, green subtracted
};

inline Terms chroma_terms8(__m128i cb, __m128i cr) {
    Terms t;
    t.r = _mm_sub_epi16(_mm_mulhi_epi16(_mm_slli_epi16(cr, 4), _mm_set1_epi16(kCrToRHigh)),
                        _mm_set1_epi16(kRTermOffset));
    t.b = _mm_sub_epi16(_mm_mulhi_epi16(_mm_slli_epi16(cb, 4), _mm_set1_epi16(kCbToBHigh)),
                        _mm_set1_epi16(kBTermOffset));
    // (88 Cb + 183 Cr - 34806) >> 8 in 32-bit lanes.
    const __m128i factors = _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(kCrToG) << 16) |
                                                                static_cast<uint32_t>(kCbToG)));
    const __m128i bias = _mm_set1_epi32(kGBias);
    const __m128i lo = _mm_srai_epi32(_mm_sub_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cb, cr), factors), bias), 8);
    const __m128i hi = _mm_srai_epi32(_mm_sub_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cb, cr), factors), bias), 8);
    t.g = _mm_packs_epi32(lo, hi);
    return t;
}

// Each chroma term of lanes 0..3 (or 4..7) over two pixels.
inline Terms widen_low(const Terms &t) {
    return {_mm_unpacklo_epi16(t.r, t.r), _mm_unpacklo_epi16(t.g, t.g), _mm_unpacklo_epi16(t.b, t.b)};
}
inline Terms widen_high(const Terms &t) {
    return {_mm_unpackhi_epi16(t.r, t.r), _mm_unpackhi_epi16(t.g, t.g), _mm_unpackhi_epi16(t.b, t.b)};
}

// Writes 8 pixels (one row of one luma block).
template <Fmt F>
inline void emit8(__m128i y, const Terms &t, const int16_t *k_row, uint8_t *out) {
    const __m128i zero = _mm_setzero_si128();
    __m128i r = _mm_packus_epi16(_mm_add_epi16(y, t.r), zero);
    const __m128i g0 = _mm_packus_epi16(_mm_sub_epi16(y, t.g), zero);
    __m128i b = _mm_packus_epi16(_mm_add_epi16(y, t.b), zero);
    __m128i g = g0;
    __m128i a = _mm_set1_epi8(static_cast<char>(0xFF));
    if constexpr (F == Fmt::Bgr) {
        const __m128i swap = r;
        r = b;
        b = swap;
    }
    if constexpr (F == Fmt::Cmyk) {
        r = _mm_xor_si128(r, a);
        g = _mm_xor_si128(g, a);
        b = _mm_xor_si128(b, a);
        a = _mm_packus_epi16(load8(k_row), zero);
    }
    const __m128i rg = _mm_unpacklo_epi8(r, g);
    const __m128i ba = _mm_unpacklo_epi8(b, a);
    const __m128i p0 = _mm_unpacklo_epi16(rg, ba); // pixels 0..3 as 4 bytes each
    const __m128i p1 = _mm_unpackhi_epi16(rg, ba); // pixels 4..7
    if constexpr (F == Fmt::Rgba || F == Fmt::Cmyk) {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), p0);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), p1);
    } else {
        // Drop the fourth byte: pairs of 3-byte pixels as 48-bit groups,
        // joined into three 64-bit words (24 bytes, nothing written beyond).
        alignas(16) uint64_t q[4];
        _mm_store_si128(reinterpret_cast<__m128i *>(q), p0);
        _mm_store_si128(reinterpret_cast<__m128i *>(q + 2), p1);
        uint64_t c[4];
        for (int32_t i = 0; i < 4; ++i) c[i] = (q[i] & 0xFFFFFFull) | ((q[i] >> 8) & 0xFFFFFF000000ull);
        const uint64_t w[3] = {c[0] | (c[1] << 48), (c[1] >> 16) | (c[2] << 32), (c[2] >> 32) | (c[3] << 16)};
        std::memcpy(out, w, 24);
    }
}

template <Fmt F, Lay L>
void convert(const int16_t *c0, const int16_t *cb, const int16_t *cr, const int16_t *k, uint8_t *out,
             int32_t line_bytes) {
    constexpr int32_t bpp = (F == Fmt::Rgba || F == Fmt::Cmyk) ? 4 : 3;
    constexpr int32_t rows = L == Lay::H2V2 ? 16 : 8;
    for (int32_t py = 0; py < rows; ++py) {
        const int32_t cy = L == Lay::H2V2 ? py >> 1 : py;
        const Terms t = chroma_terms8(load8(cb + 8 * cy), load8(cr + 8 * cy));
        uint8_t *o = out + static_cast<intptr_t>(py) * line_bytes;
        if constexpr (L == Lay::H1V1) {
            emit8<F>(load8(c0 + 8 * py), t, k + 8 * py, o);
        } else {
            const int32_t q = (L == Lay::H2V2 && py >= 8) ? 2 : 0;
            const int32_t yr = 8 * (py & 7);
            emit8<F>(load8(c0 + 64 * q + yr), widen_low(t), k + 64 * q + yr, o);
            emit8<F>(load8(c0 + 64 * (q + 1) + yr), widen_high(t), k + 64 * (q + 1) + yr, o + 8 * bpp);
        }
    }
}

} // namespace

void put_gray_8x8_sse2(const int16_t *block, uint8_t *out, int32_t line_bytes) {
    for (int32_t y = 0; y < 8; ++y) {
        const __m128i v = _mm_packus_epi16(load8(block + 8 * y), _mm_setzero_si128());
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + static_cast<intptr_t>(y) * line_bytes), v);
    }
}

void ycc_to_packed422_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out,
                           int32_t line_bytes) {
    for (int32_t y = 0; y < 8; ++y) {
        const __m128i luma = _mm_packus_epi16(load8(c0 + 8 * y), load8(c0 + 64 + 8 * y));
        const __m128i cb = load8(c1 + 8 * y), cr = load8(c2 + 8 * y);
        const __m128i chroma = _mm_packus_epi16(_mm_unpacklo_epi16(cb, cr), _mm_unpackhi_epi16(cb, cr));
        uint8_t *o = out + static_cast<intptr_t>(y) * line_bytes;
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_unpacklo_epi8(luma, chroma));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(o + 16), _mm_unpackhi_epi8(luma, chroma));
    }
}

void ycc_to_rgb_h1v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgb, Lay::H1V1>(a, b, c, a, o, l); }
void ycc_to_rgb_h2v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgb, Lay::H2V1>(a, b, c, a, o, l); }
void ycc_to_rgb_h2v2_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgb, Lay::H2V2>(a, b, c, a, o, l); }
void ycc_to_bgr_h1v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Bgr, Lay::H1V1>(a, b, c, a, o, l); }
void ycc_to_bgr_h2v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Bgr, Lay::H2V1>(a, b, c, a, o, l); }
void ycc_to_bgr_h2v2_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Bgr, Lay::H2V2>(a, b, c, a, o, l); }
void ycc_to_rgba_h1v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgba, Lay::H1V1>(a, b, c, a, o, l); }
void ycc_to_rgba_h2v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgba, Lay::H2V1>(a, b, c, a, o, l); }
void ycc_to_rgba_h2v2_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgba, Lay::H2V2>(a, b, c, a, o, l); }
void ycck_to_cmyk_h1v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, int32_t l) { convert<Fmt::Cmyk, Lay::H1V1>(a, b, c, k, o, l); }
void ycck_to_cmyk_h2v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, int32_t l) { convert<Fmt::Cmyk, Lay::H2V1>(a, b, c, k, o, l); }
void ycck_to_cmyk_h2v2_sse2(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, int32_t l) { convert<Fmt::Cmyk, Lay::H2V2>(a, b, c, k, o, l); }

} // namespace qrl

#endif // QRL_X86_SIMD
