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
} // namespace qrl
