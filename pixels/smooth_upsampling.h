// Interpolated chroma (smooth_upsampling 1): the neighbour ring that keeps
// the samples of the MCUs around the one being output, the one-MCU output
// lag, and the triangle filters used by the plane writers.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// True when the output of a scan is delayed for smoothing: smooth_upsampling
// is 1 and the frame is sampled 2x1 or 2x2 (max_h_sampling 2, max_v_sampling
// at most 2). The delay is one MCU column, and one MCU row as well for 2x2.
[[nodiscard]] bool smoothing_active(const JPEG_PROPERTIES *props);

// Run by reconstruct_mcu after the inverse transforms when smoothing_active.
// Stores the MCU in mcu_buffer into the ring unless (column, row) is a lag
// position (column == columns or row == rows), then picks the MCU one column
// (and, for 2x2 frames, one row) back. Returns true when that MCU is to be
// output now: its samples are back in mcu_buffer and *out_column, *out_row
// hold its position. Returns false when nothing is to be output.
[[nodiscard]] bool smooth_store_and_lag(JPEG_PROPERTIES *props, int32_t column, int32_t row,
                                        int32_t columns, int32_t rows, int32_t blocks_per_mcu,
                                        int32_t *out_column, int32_t *out_row);

// Filter mode of the plane writers: 0 replicate, 1 H2V1 triangle filter,
// 2 H2V2 triangle filter (full scale only; reduced scales smooth 2x1 frames
// only). Needs the ring.
[[nodiscard]] int32_t smoothing_mode(const JPEG_PROPERTIES *props, int32_t scale);

// Where a filter finds the samples of one chroma component: the ring slots of
// the MCUs around (column, row) of a grid whose units hold `stride` blocks,
// the component's block at `block_offset` in each unit, `samples` samples per
// block side, and the component's sample extent (edge samples are repeated
// beyond it).
struct CHROMA_NEIGHBOURS {
    const JPEG_PROPERTIES *props;
    int32_t column;
    int32_t row;
    int32_t stride;
    int32_t block_offset;
    int32_t samples;
    int32_t width;  // component samples across the image
    int32_t height; // component samples down the image
};

// Sample (gx, gy) of the component in image coordinates, clamped to its extent.
[[nodiscard]] int32_t neighbour_sample(const CHROMA_NEIGHBOURS &n, int32_t gx, int32_t gy);

// Builds the plane area of one chroma block: H2V1 gives 2 x samples by
// samples values, H2V2 2 x samples square; row stride 32.
void filter_h2v1(const CHROMA_NEIGHBOURS &n, uint8_t *plane);
void filter_h2v2(const CHROMA_NEIGHBOURS &n, uint8_t *plane);

} // namespace qrl
