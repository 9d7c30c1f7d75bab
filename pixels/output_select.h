#pragma once
#include "codec/codec.h"

namespace qrl {
// Chooses the MCU output routine for the frame and the requested pixel
// layout: writes needs_color_conversion, needs_upsampling, the MCU grid and
// the kernel slot mcu_writer. Combinations without a routine leave the slot
// null (and still return JPEG_OK, so header reads succeed); decoding must then
// be refused, see output_routine_ready. A one-component frame is an image of
// 8x8 blocks whatever its sampling factors say: they are set to 1x1.
// Returns JPEG_OK, JPEG_INVALID_PROPERTIES (YCbCr output of a 3-component
// YCbCr frame not sampled 2x1, 1x1, 1x1) or JPEG_ERR_COMP (component count
// outside 1..4, or a sampling factor outside 1..4).
[[nodiscard]] int32_t select_output(JPEG_PROPERTIES *props);

// True when select_output installed a routine, i.e. pixels can be written.
[[nodiscard]] bool output_routine_ready(const JPEG_PROPERTIES *props);
} // namespace qrl
