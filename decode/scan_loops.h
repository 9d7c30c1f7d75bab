#pragma once
#include "codec/codec.h"

namespace qrl {
// Scan loops; scale is 1, 2, 4 or 8.
[[nodiscard]] int32_t decode_scan_sequential(INPUT_SOURCE *src, SCAN_INFO *scan,
                                             JPEG_PROPERTIES *props, int32_t scale);
[[nodiscard]] int32_t decode_scan_sequential_region(INPUT_SOURCE *src, SCAN_INFO *scan,
                                                    JPEG_PROPERTIES *props, int32_t scale);
[[nodiscard]] int32_t decode_scan_progressive(INPUT_SOURCE *src, SCAN_INFO *scan,
                                              JPEG_PROPERTIES *props, int32_t scale);
[[nodiscard]] int32_t decode_scan_progressive_region(INPUT_SOURCE *src, SCAN_INFO *scan,
                                                     JPEG_PROPERTIES *props, int32_t scale);

// Outputs the whole image held in the coefficient buffer (every MCU
// dequantized, reconstructed and written, at the given scale) whatever the
// progress counters say. For a buffered frame whose scans never completed
// every component (a progressive stream cut short, or one that leaves a band
// out), so that the coefficients received are shown rather than nothing.
// Returns 0, or a negative error when the frame or the buffer cannot be
// output.
[[nodiscard]] int32_t output_coefficient_image(INPUT_SOURCE *src, JPEG_PROPERTIES *props, int32_t scale);
} // namespace qrl
