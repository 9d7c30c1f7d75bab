#pragma once
#include "codec/codec.h"

namespace qrl {
// Runs the marker loop of one codec_read call.
[[nodiscard]] int32_t decode_stream(JPEG_PROPERTIES *props);
// Sets up one scan and runs its scan loop; *marker receives the marker code
// at which the scan ended (0 if none).
[[nodiscard]] int32_t decode_scan(INPUT_SOURCE *src, SCAN_INFO *scan, JPEG_PROPERTIES *props,
                                  int32_t *marker);
} // namespace qrl
