// Encoder input stage: reads one MCU of the caller's pixels into level-shifted
// 16-bit sample blocks in mcu_buffer (component 0's blocks, then component 1,
// 2 and 3), converting color and downsampling chroma on the way.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Installs the MCU input routine for the frame and pixel layout in the kernel
// slot mcu_reader. JPEG_ERR_COMP for a component count outside 1..4;
// JPEG_INVALID_PROPERTIES for a combination no routine serves (or a call
// while partial_scan is set).
[[nodiscard]] int32_t select_input(JPEG_PROPERTIES *props);

// ---- Input kernels (portable). ------------------------------------------------
// c0 points at the first of component 0's blocks (1, 2 or 4 back to back);
// c3 likewise for the fourth component.
void get_gray_8x8(const uint8_t *pixels, int32_t line_bytes, int16_t *block);
void rgb_to_ycc_h1v1(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2);
void rgb_to_ycc_h2v1(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2);
void rgb_to_ycc_h2v2(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2);
void bgr_to_ycc_h1v1(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2);
void bgr_to_ycc_h2v1(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2);
void bgr_to_ycc_h2v2(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2);
void deinterleave3_h1v1(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1,
                        int16_t *c2);
void deinterleave3_h2v1(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1,
                        int16_t *c2);
void deinterleave3_h2v2(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1,
                        int16_t *c2);
void packed422_to_ycc(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1, int16_t *c2);
void cmyk_to_ycck_h1v1(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1,
                       int16_t *c2, int16_t *c3);
void cmyk_to_ycck_h2v1(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1,
                       int16_t *c2, int16_t *c3);
void cmyk_to_ycck_h2v2(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1,
                       int16_t *c2, int16_t *c3);
void deinterleave4_h1v1(const uint8_t *p, int32_t line_bytes, int16_t *c0, int16_t *c1,
                        int16_t *c2, int16_t *c3);

// SSE2 twins (x86 only): the same samples as the portable kernels.
void get_gray_8x8_sse2(const uint8_t *pixels, int32_t line_bytes, int16_t *block);
void rgb_to_ycc_h1v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void rgb_to_ycc_h2v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void rgb_to_ycc_h2v2_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void bgr_to_ycc_h1v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void bgr_to_ycc_h2v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void bgr_to_ycc_h2v2_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void packed422_to_ycc_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void cmyk_to_ycck_h1v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2,
                            int16_t *c3);
void cmyk_to_ycck_h2v1_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2,
                            int16_t *c3);
void cmyk_to_ycck_h2v2_sse2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2,
                            int16_t *c3);
// AVX2 twins of the 3-byte converters (set D where the processor has AVX2):
// the same samples, two rows at a time.
void rgb_to_ycc_h1v1_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void rgb_to_ycc_h2v1_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void rgb_to_ycc_h2v2_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void bgr_to_ycc_h1v1_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void bgr_to_ycc_h2v1_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);
void bgr_to_ycc_h2v2_avx2(const uint8_t *p, int32_t lb, int16_t *c0, int16_t *c1, int16_t *c2);

// ---- Per-pixel color formulas (Y already level-shifted). ----------------------
inline int32_t luma_of(int32_t r, int32_t g, int32_t b) {
    return (77 * r + 150 * g + 29 * b - 32640) >> 8;
}
inline int32_t cb_of(int32_t r, int32_t g, int32_t b) {
    return (128 * b - 43 * r - 85 * g + 128) >> 8;
}
inline int32_t cr_of(int32_t r, int32_t g, int32_t b) {
    return (128 * r - 107 * g - 21 * b + 128) >> 8;
}

// ---- MCU input routines (values for the mcu_reader slot). ---------------------
// Fast routines: full MCUs go to the kernel slot, edge MCUs to a partial
// reader that replicates the last valid column and row.
enum class FastInput { Gray, Rgb, Bgr, Cmyk, Deinterleave3, Deinterleave4, Packed422 };
// Generic routines for layouts without a fast kernel.
enum class GenericInput { Copy, GrayFromColor, Downsample, Convert };

using McuInputFn = int32_t (*)(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);
// The fast routine of a kind for an MCU of h x v luma blocks (1x1, 2x1, 2x2;
// Gray, Deinterleave4 and Packed422 only in their one layout). Null when the
// kind has no routine for that layout.
[[nodiscard]] McuInputFn fast_input_reader(FastInput kind, int32_t h, int32_t v);
[[nodiscard]] McuInputFn generic_input_reader(GenericInput kind);

// Valid area of one MCU and the advance of pixel_cursor (shared by every
// routine). Returns the MCU's first pixel.
struct McuArea {
    const uint8_t *pixels;
    int32_t width;  // valid columns
    int32_t height; // valid rows
};
[[nodiscard]] McuArea begin_mcu(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row,
                                int32_t mcu_width, int32_t mcu_height, int32_t bytes_per_pixel);

} // namespace qrl
