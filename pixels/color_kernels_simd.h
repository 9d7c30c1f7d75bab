// Shared body of the SIMD color converters (included only by
// pixels/color_kernels_sse2.cpp and pixels/color_kernels_avx2.cpp, each of
// which gets its own copy: everything here has internal linkage, so code
// compiled for one instruction set never stands in for the other).
//
// convert<Fmt, Lay, Pack> writes one MCU: chroma terms once per chroma row
// (eight chroma samples), sixteen pixels per register group, whole 16-byte
// stores. Pack supplies the assembly of 3-byte pixels.
#pragma once

#include <emmintrin.h>

#include <cstdint>

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

inline void store16(uint8_t *out, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(out), v); }
inline void store8(uint8_t *out, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i *>(out), v); }

// Sixteen pixels to one output row. Pack::interleave3 turns 16 pixels into
// 48 bytes of 3-byte pixels in three registers.
template <Fmt F, typename Pack>
inline void write_row16(const Pixels16 &p, uint8_t *out) {
    if constexpr (F == Fmt::Rgba || F == Fmt::Cmyk) {
        __m128i q[4];
        interleave4(p, q);
        for (int32_t i = 0; i < 4; ++i) store16(out + 16 * i, q[i]);
    } else {
        __m128i w[3];
        Pack::interleave3(p, w);
        for (int32_t i = 0; i < 3; ++i) store16(out + 16 * i, w[i]);
    }
}

// Pixels 0..7 to row0 and 8..15 to row1 (eight pixels per row).
template <Fmt F, typename Pack>
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
        Pack::interleave3(p, w);
        store16(row0, w[0]);
        store8(row0 + 16, w[1]);
        store8(row1, _mm_srli_si128(w[1], 8));
        store16(row1 + 8, w[2]);
    }
}

template <Fmt F, Lay L, typename Pack>
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
            write_rows8<F, Pack>(p, row(py), row(py + 1));
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
                write_row16<F, Pack>(p, row(py));
            }
        }
    }
}

} // namespace
} // namespace qrl
