// MCU output routines for the common layouts, installed in the kernel slot
// mcu_writer by select_output. All have the slot's signature: they write the
// visible pixels of MCU (mcu_column, mcu_row) from mcu_buffer into the
// caller's rows and return 0, or JPEG_INVALID_PROPERTIES (writing nothing)
// when the MCU lies outside the region of interest.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

int32_t mcu_ycc_rgb_h1v1(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);      //  1
int32_t mcu_ycc_bgr_h1v1(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);      //  2
int32_t mcu_ycc_rgb_h2v2(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);      //  3
int32_t mcu_ycc_bgr_h2v2(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);      //  4
int32_t mcu_ycc_rgb_h2v1(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);      //  5
int32_t mcu_ycc_bgr_h2v1(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);      //  6
int32_t mcu_ycc_rgba_h1v1(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);     //  7
int32_t mcu_ycc_rgba_h2v2(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);     //  8
int32_t mcu_ycc_rgba_h2v1(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);     //  9
int32_t mcu_ycck_cmyk_h1v1(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);    // 10
int32_t mcu_ycck_cmyk_h2v2(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);    // 11
int32_t mcu_ycck_cmyk_h2v1(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);    // 12
int32_t mcu_interleave3_alpha(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row); // 13
int32_t mcu_interleave4(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);       // 14
int32_t mcu_interleave3(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);       // 15
int32_t mcu_interleave3_h2v2(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);  // 16
int32_t mcu_interleave3_h2v1(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);  // 17
int32_t mcu_ycc_packed422(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);     // 19

// One component to one channel, clamped.
int32_t mcu_gray(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);
// No conversion, no upsampling (every component 1x1): component d to channel
// d, RGB data reversed for BGR output, 255 in the fourth channel of CMYK
// output, gray data replicated (gray, gray, gray, 255).
int32_t mcu_copy_planes(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);
// mcu_copy_planes over blocks of `samples` x `samples` (reduced-size output).
int32_t copy_planes_sized(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row, int32_t samples);

} // namespace qrl
