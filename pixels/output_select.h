#pragma once
#include "codec/codec.h"

namespace qrl {
// Chooses the MCU output routine for the frame and the requested pixel
// layout: writes needs_color_conversion, needs_upsampling, the MCU grid and
// the kernel slot mcu_writer.
[[nodiscard]] int32_t select_output(JPEG_PROPERTIES *props);
} // namespace qrl
