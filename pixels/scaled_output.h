// Reduced-size (1/2, 1/4, 1/8) output and the whole-image color conversion.
#pragma once
#include "codec/codec.h"

namespace qrl {

// Writes one MCU of a reduced-size decode: every block holds n x n samples
// (n = 4, 2 or 1) in its top-left corner with row stride 8; with `uniform`
// set, a component of frame h*v = 1 holds 2n x 2n (it was transformed one
// size larger). Called by reconstruct_mcu for every MCU (and for the
// smoothing lag positions, with the lagging MCU's samples in mcu_buffer).
void write_scaled_mcu(JPEG_PROPERTIES *props, INPUT_SOURCE *src, SCAN_INFO *scan, int32_t mcu_column,
                      int32_t mcu_row, int32_t n, int32_t uniform);

// The scaled writers (MCU position and samples per block side n).
int32_t scaled_copy_planes(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row, int32_t n);
int32_t scaled_scan_planes(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row, int32_t n,
                           int32_t uniform);
int32_t scaled_frame_planes(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row, int32_t n,
                            int32_t uniform);
int32_t scaled_convert_in_place(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row, int32_t n);

// Whole-image color conversion of a frame whose components arrived in
// separate scans (called by the decode driver at the end of the image, and
// when a region decode of such an image completes). Does nothing unless
// image_color is RGB, BGR or CMYK and needs_color_conversion is 1.
[[nodiscard]] int32_t convert_image_in_place(JPEG_PROPERTIES *props);

} // namespace qrl
