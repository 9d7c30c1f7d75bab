// Portable decoder output kernels: one MCU's sample blocks -> interleaved
// pixels. Each full-MCU kernel has a partial writer with the same arithmetic,
// used on one 8x8 quadrant of an MCU cut by the image edge or the region of
// interest; it writes exactly the full kernel's bytes for the pixels inside
// the rectangle and nothing else.
//
// Full kernels take the blocks as the MCU buffer holds them (component 0's
// 1, 2 or 4 blocks first; chroma blocks; a fourth component with as many
// blocks as component 0). Partial writers take the blocks of one quadrant:
// its luma (and fourth-component) block and the chroma blocks already offset
// to the quadrant's chroma origin (+4 samples right, +32 below, when the
// chroma is subsampled in that direction).
#pragma once

#include <cstdint>

#include "pixels/block_rect.h"

namespace qrl {

using Partial1Fn = void (*)(const int16_t *block, uint8_t *out, BLOCK_RECT visible,
                            int32_t line_bytes);
using Partial3Fn = void (*)(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out,
                            BLOCK_RECT visible, int32_t line_bytes);
using Partial4Fn = void (*)(const int16_t *c0, const int16_t *c1, const int16_t *c2,
                            const int16_t *c3, uint8_t *out, BLOCK_RECT visible,
                            int32_t line_bytes);

// ---- Full-MCU kernels (the portable kernel set) -----------------------------
void put_gray_8x8(const int16_t *block, uint8_t *out, int32_t line_bytes);

#define QRL_DECLARE_PUT3(name)                                                                    \
    void name(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out,              \
              int32_t line_bytes);                                                                \
    void name##_partial(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out,    \
                        BLOCK_RECT visible, int32_t line_bytes)
#define QRL_DECLARE_PUT4(name)                                                                    \
    void name(const int16_t *c0, const int16_t *c1, const int16_t *c2, const int16_t *c3,         \
              uint8_t *out, int32_t line_bytes);                                                  \
    void name##_partial(const int16_t *c0, const int16_t *c1, const int16_t *c2,                  \
                        const int16_t *c3, uint8_t *out, BLOCK_RECT visible, int32_t line_bytes)

QRL_DECLARE_PUT3(ycc_to_rgb_h1v1);
QRL_DECLARE_PUT3(ycc_to_rgb_h2v1);
QRL_DECLARE_PUT3(ycc_to_rgb_h2v2);
QRL_DECLARE_PUT3(ycc_to_bgr_h1v1);
QRL_DECLARE_PUT3(ycc_to_bgr_h2v1);
QRL_DECLARE_PUT3(ycc_to_bgr_h2v2);
QRL_DECLARE_PUT3(ycc_to_rgba_h1v1);
QRL_DECLARE_PUT3(ycc_to_rgba_h2v1);
QRL_DECLARE_PUT3(ycc_to_rgba_h2v2);
QRL_DECLARE_PUT3(interleave3_h1v1);
QRL_DECLARE_PUT3(interleave3_h2v1);
QRL_DECLARE_PUT3(interleave3_h2v2);
QRL_DECLARE_PUT3(interleave3_alpha_h1v1);
QRL_DECLARE_PUT3(ycc_to_packed422);
QRL_DECLARE_PUT4(ycck_to_cmyk_h1v1);
QRL_DECLARE_PUT4(ycck_to_cmyk_h2v1);
QRL_DECLARE_PUT4(ycck_to_cmyk_h2v2);
QRL_DECLARE_PUT4(interleave4_h1v1);

#undef QRL_DECLARE_PUT3
#undef QRL_DECLARE_PUT4

void put_gray_8x8_partial(const int16_t *block, uint8_t *out, BLOCK_RECT visible,
                          int32_t line_bytes);

// ---- SSE2 twins (x86 only; one kernel per slot serves sets A to D) ----------
// Same arguments, bytes and layout as the portable kernels. The green term is
// identical; the red and blue terms are floor(359 Cr / 256) - 179 and
// floor(454 Cb / 256) - 227 (high halves of 16-bit products) instead of the
// portable floor((359 Cr + 11) / 256) - 179 and floor((454 Cb + 175) / 256)
// - 227, so R is one lower for 11 values of Cr and B one lower for 174 values
// of Cb (before clamping). The fourth CMYK byte is K saturated to 8 bits
// (the low 8 bits for samples 0..255). Only whole MCUs use them; the partial
// writers stay portable.
#if !defined(QRL_X86_SIMD) && (defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86))
#define QRL_X86_SIMD 1
#endif
#ifdef QRL_X86_SIMD
void put_gray_8x8_sse2(const int16_t *block, uint8_t *out, int32_t line_bytes);
void ycc_to_rgb_h1v1_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_rgb_h2v1_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_rgb_h2v2_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_bgr_h1v1_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_bgr_h2v1_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_bgr_h2v2_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_rgba_h1v1_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_rgba_h2v1_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_rgba_h2v2_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_packed422_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycck_to_cmyk_h1v1_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, const int16_t *c3, uint8_t *out,
                            int32_t line_bytes);
void ycck_to_cmyk_h2v1_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, const int16_t *c3, uint8_t *out,
                            int32_t line_bytes);
void ycck_to_cmyk_h2v2_sse2(const int16_t *c0, const int16_t *c1, const int16_t *c2, const int16_t *c3, uint8_t *out,
                            int32_t line_bytes);
// The 3-byte converters again, for set D where the processor has AVX2 (byte
// shuffles, three-operand encoding): the same bytes as the SSE2 twins.
void ycc_to_rgb_h1v1_avx2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_rgb_h2v1_avx2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_rgb_h2v2_avx2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_bgr_h1v1_avx2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_bgr_h2v1_avx2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
void ycc_to_bgr_h2v2_avx2(const int16_t *c0, const int16_t *c1, const int16_t *c2, uint8_t *out, int32_t line_bytes);
#endif

} // namespace qrl
