// Component-plane output routines: each component of an MCU is expanded to
// the MCU's pixel grid as an 8-bit plane (replicated, or interpolated under
// smooth_upsampling) and written into its output channel; color conversion,
// when needed, follows in place. They serve every layout without a fast
// routine, images whose components arrive in separate scans, images
// assembled from the whole-image coefficient buffer, and reduced-size output.
#pragma once

#include <cstdint>

#include "codec/codec.h"
#include "pixels/block_rect.h"

namespace qrl {

// Side of the scratch plane: one component of one MCU, up to 32 x 32 pixels
// (8 samples x sampling factors up to 4), row r at offset 32 r.
constexpr int32_t kPlaneStride = 32;

// mcu_writer routines (results: 0, or JPEG_INVALID_PROPERTIES outside the region).
int32_t mcu_scan_planes(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);   // the scan's components
int32_t mcu_frame_planes(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);  // all frame components
int32_t mcu_planes_converted(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);
int32_t mcu_packed422_scan(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row); // packed Y Cb Y Cr

// How a plane routine runs.
struct PLANE_OPTIONS {
    bool frame;      // the frame's components (else the current scan's)
    int32_t samples; // samples per block side: 8, or 4, 2, 1 at reduced size
    int32_t uniform; // reduced size: a component of frame h*v = 1 carries 2 x samples per side
    bool smoothing;  // interpolation allowed
};
[[nodiscard]] int32_t write_mcu_planes(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row,
                                       const PLANE_OPTIONS &options);

// Writes plane values into output channel `channel` over the visible
// rectangle of the block at `block_address`. Channels at or beyond
// image_channels are skipped; packed YCbCr output (2 channels) takes channel 0
// in byte 0, channel 1 in byte 1 of even pixels and channel 2 in byte 1 of odd
// pixels; a YCbCr or RGB image written as CMYK gets 255 in the fourth byte.
void write_plane(const JPEG_PROPERTIES *props, const BLOCK_RECT &visible, int32_t channel,
                 uint8_t *block_address, const uint8_t *plane);

// YCbCr in channels 0..2 -> RGB / BGR / (inverted) CMYK over the visible
// pixels of the MCU, with the green term rounded as bias-before-shift.
[[nodiscard]] int32_t convert_in_place(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row);
// The same over an MCU of `samples` samples per block side.
[[nodiscard]] int32_t convert_mcu_in_place(JPEG_PROPERTIES *props, int32_t mcu_column, int32_t mcu_row,
                                           int32_t samples);

// One pixel of the in-place conversion. Writes channels 0..2 as the output
// layout asks (nothing for layouts it does not convert); `opaque_fourth`
// also writes 255 into channel 3 of YCbCr data written with 4 channels.
void convert_pixel_in_place(const JPEG_PROPERTIES *props, uint8_t *pixel, bool opaque_fourth);

} // namespace qrl
