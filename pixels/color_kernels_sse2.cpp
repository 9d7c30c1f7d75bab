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

// Sixteen pixels as four byte vectors in output order: channel 0, 1, 2 and
// the fourth byte (255 for RGBA, K for CMYK, zero for 3-byte pixels).
struct Pixels16 {
    __m128i c0, c1, c2, c3;
};

// Pixels 0..7 from y0 and t0, pixels 8..15 from y1 and t1; k holds the K
// samples of the same pixels (CMYK only).
template <Fmt F>
inline Pixels16 pixels16(__m128i y0, __m128i y1, const Terms &t0, const Terms &t1, __m128i k0, __m128i k1) {
    const __m128i r = _mm_packus_epi16(_mm_add_epi16(y0, t0.r), _mm_add_epi16(y1, t1.r));
    const __m128i g = _mm_packus_epi16(_mm_sub_epi16(y0, t0.g), _mm_sub_epi16(y1, t1.g));
    const __m128i b = _mm_packus_epi16(_mm_add_epi16(y0, t0.b), _mm_add_epi16(y1, t1.b));
    const __m128i ones = _mm_set1_epi8(static_cast<char>(0xFF));
    if constexpr (F == Fmt::Rgb) return {r, g, b, _mm_setzero_si128()};
    if constexpr (F == Fmt::Bgr) return {b, g, r, _mm_setzero_si128()};
    if constexpr (F == Fmt::Rgba) return {r, g, b, ones};
    return {_mm_xor_si128(r, ones), _mm_xor_si128(g, ones), _mm_xor_si128(b, ones), _mm_packus_epi16(k0, k1)};
}

// The sixteen pixels as 4-byte groups: q[0] pixels 0..3, ..., q[3] 12..15.
inline void interleave4(const Pixels16 &p, __m128i q[4]) {
    const __m128i lo01 = _mm_unpacklo_epi8(p.c0, p.c1), hi01 = _mm_unpackhi_epi8(p.c0, p.c1);
    const __m128i lo23 = _mm_unpacklo_epi8(p.c2, p.c3), hi23 = _mm_unpackhi_epi8(p.c2, p.c3);
    q[0] = _mm_unpacklo_epi16(lo01, lo23);
    q[1] = _mm_unpackhi_epi16(lo01, lo23);
    q[2] = _mm_unpacklo_epi16(hi01, hi23);
    q[3] = _mm_unpackhi_epi16(hi01, hi23);
}

// Four 4-byte pixels whose fourth bytes are zero -> their 12 bytes of three
// channels at the bottom of the register (the top four bytes zero).
inline __m128i drop_fourth_bytes(__m128i q) {
    const __m128i low3 = _mm_set1_epi64x(0x0000000000FFFFFFll);
    const __m128i next3 = _mm_set1_epi64x(0x0000FFFFFF000000ll);
    // Within each 64-bit half: pixel 0 stays, pixel 1 moves down one byte.
    const __m128i six = _mm_or_si128(_mm_and_si128(q, low3), _mm_and_si128(_mm_srli_epi64(q, 8), next3));
    // The upper six bytes move down to follow the lower six.
    return _mm_or_si128(_mm_move_epi64(six), _mm_slli_si128(_mm_srli_si128(six, 8), 6));
}

// The sixteen pixels as 48 bytes of 3-byte pixels in three registers.
inline void interleave3(const Pixels16 &p, __m128i w[3]) {
    __m128i q[4];
    interleave4(p, q);
    const __m128i a = drop_fourth_bytes(q[0]), b = drop_fourth_bytes(q[1]);
    const __m128i c = drop_fourth_bytes(q[2]), d = drop_fourth_bytes(q[3]);
    w[0] = _mm_or_si128(a, _mm_slli_si128(b, 12));
    w[1] = _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8));
    w[2] = _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4));
}

inline void store16(uint8_t *out, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(out), v); }
inline void store8(uint8_t *out, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i *>(out), v); }

// Sixteen pixels to one output row.
template <Fmt F>
inline void write_row16(const Pixels16 &p, uint8_t *out) {
    if constexpr (F == Fmt::Rgba || F == Fmt::Cmyk) {
        __m128i q[4];
        interleave4(p, q);
        for (int32_t i = 0; i < 4; ++i) store16(out + 16 * i, q[i]);
    } else {
        __m128i w[3];
        interleave3(p, w);
        for (int32_t i = 0; i < 3; ++i) store16(out + 16 * i, w[i]);
    }
}

// Pixels 0..7 to row0 and 8..15 to row1 (eight pixels per row).
template <Fmt F>
inline void write_rows8(const Pixels16 &p, uint8_t *row0, uint8_t *row1) {
    if constexpr (F == Fmt::Rgba || F == Fmt::Cmyk) {
        __m128i q[4];
        interleave4(p, q);
        store16(row0, q[0]);
        store16(row0 + 16, q[1]);
        store16(row1, q[2]);
        store16(row1 + 16, q[3]);
    } else {
        __m128i w[3];
        interleave3(p, w);
        store16(row0, w[0]);
        store8(row0 + 16, w[1]);
        store8(row1, _mm_srli_si128(w[1], 8));
        store16(row1 + 8, w[2]);
    }
}

template <Fmt F, Lay L>
void convert(const int16_t *c0, const int16_t *cb, const int16_t *cr, const int16_t *k, uint8_t *out,
             int32_t line_bytes) {
    const auto row = [&](int32_t py) { return out + static_cast<intptr_t>(py) * line_bytes; };
    if constexpr (L == Lay::H1V1) {
        // Two rows of eight pixels per step.
        for (int32_t py = 0; py < 8; py += 2) {
            const Terms t0 = chroma_terms8(load8(cb + 8 * py), load8(cr + 8 * py));
            const Terms t1 = chroma_terms8(load8(cb + 8 * py + 8), load8(cr + 8 * py + 8));
            const Pixels16 p = pixels16<F>(load8(c0 + 8 * py), load8(c0 + 8 * py + 8), t0, t1, load8(k + 8 * py),
                                           load8(k + 8 * py + 8));
            write_rows8<F>(p, row(py), row(py + 1));
        }
    } else {
        // One chroma row covers sixteen pixels of one (2x1) or two (2x2) rows.
        for (int32_t cy = 0; cy < 8; ++cy) {
            const Terms t = chroma_terms8(load8(cb + 8 * cy), load8(cr + 8 * cy));
            const Terms tl = widen_low(t), th = widen_high(t);
            constexpr int32_t rows = L == Lay::H2V2 ? 2 : 1;
            for (int32_t i = 0; i < rows; ++i) {
                const int32_t py = rows * cy + i;
                const int32_t q = (L == Lay::H2V2 && py >= 8) ? 2 : 0;
                const int32_t yr = 64 * q + 8 * (py & 7);
                const Pixels16 p = pixels16<F>(load8(c0 + yr), load8(c0 + yr + 64), tl, th, load8(k + yr),
                                               load8(k + yr + 64));
                write_row16<F>(p, row(py));
            }
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
