// Row index of region decoding: the decoder state at the start of MCU rows,
// so that rows above a region and columns right of it can be jumped over.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Stores the reader state (predictors, accumulator, pending marker and the
// read position: the byte count for a file source, the read address for a
// memory source) as row_index entry n. Rows past the index are not recorded.
void save_row_state(JPEG_PROPERTIES *props, INPUT_SOURCE *src, SCAN_INFO *scan, int32_t n);

// Loads row_index entry n back: a file source seeks to the offset and
// refills, a memory source moves its read address. Returns 0, or
// JPEG_FILE_ERROR when the seek or refill fails or the entry does not lie in
// the source (a memory address outside the buffer, an unrecorded entry).
[[nodiscard]] int32_t restore_row_state(JPEG_PROPERTIES *props, INPUT_SOURCE *src, SCAN_INFO *scan, int32_t n);

// True when entry n exists and holds a recorded state.
[[nodiscard]] bool row_state_recorded(const JPEG_PROPERTIES *props, int32_t n);

} // namespace qrl
