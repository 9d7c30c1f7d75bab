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

#include "pixels/color_kernels_simd.h"

namespace qrl {
namespace {

struct PackSse2 {
    // Four 4-byte pixels whose fourth bytes are zero -> their 12 bytes of three
    // channels at the bottom of the register (the top four bytes zero).
    static __m128i drop_fourth_bytes(__m128i q) {
        const __m128i low3 = _mm_set1_epi64x(0x0000000000FFFFFFll);
        const __m128i next3 = _mm_set1_epi64x(0x0000FFFFFF000000ll);
        // Within each 64-bit half: pixel 0 stays, pixel 1 moves down one byte.
        const __m128i six = _mm_or_si128(_mm_and_si128(q, low3), _mm_and_si128(_mm_srli_epi64(q, 8), next3));
        // The upper six bytes move down to follow the lower six.
        return _mm_or_si128(_mm_move_epi64(six), _mm_slli_si128(_mm_srli_si128(six, 8), 6));
    }

    // The sixteen pixels as 48 bytes of 3-byte pixels in three registers.
    static void interleave3(const Pixels16 &p, __m128i w[3]) {
        __m128i q[4];
        interleave4(p, q);
        const __m128i a = drop_fourth_bytes(q[0]), b = drop_fourth_bytes(q[1]);
        const __m128i c = drop_fourth_bytes(q[2]), d = drop_fourth_bytes(q[3]);
        w[0] = _mm_or_si128(a, _mm_slli_si128(b, 12));
        w[1] = _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8));
        w[2] = _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(d, 4));
    }
};

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

void ycc_to_rgb_h1v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgb, Lay::H1V1, PackSse2>(a, b, c, a, o, l); }
void ycc_to_rgb_h2v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgb, Lay::H2V1, PackSse2>(a, b, c, a, o, l); }
void ycc_to_rgb_h2v2_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgb, Lay::H2V2, PackSse2>(a, b, c, a, o, l); }
void ycc_to_bgr_h1v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Bgr, Lay::H1V1, PackSse2>(a, b, c, a, o, l); }
void ycc_to_bgr_h2v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Bgr, Lay::H2V1, PackSse2>(a, b, c, a, o, l); }
void ycc_to_bgr_h2v2_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Bgr, Lay::H2V2, PackSse2>(a, b, c, a, o, l); }
void ycc_to_rgba_h1v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgba, Lay::H1V1, PackSse2>(a, b, c, a, o, l); }
void ycc_to_rgba_h2v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgba, Lay::H2V1, PackSse2>(a, b, c, a, o, l); }
void ycc_to_rgba_h2v2_sse2(const int16_t *a, const int16_t *b, const int16_t *c, uint8_t *o, int32_t l) { convert<Fmt::Rgba, Lay::H2V2, PackSse2>(a, b, c, a, o, l); }
void ycck_to_cmyk_h1v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, int32_t l) { convert<Fmt::Cmyk, Lay::H1V1, PackSse2>(a, b, c, k, o, l); }
void ycck_to_cmyk_h2v1_sse2(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, int32_t l) { convert<Fmt::Cmyk, Lay::H2V1, PackSse2>(a, b, c, k, o, l); }
void ycck_to_cmyk_h2v2_sse2(const int16_t *a, const int16_t *b, const int16_t *c, const int16_t *k, uint8_t *o, int32_t l) { convert<Fmt::Cmyk, Lay::H2V2, PackSse2>(a, b, c, k, o, l); }

} // namespace qrl

#endif // QRL_X86_SIMD
