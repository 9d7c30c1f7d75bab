// Byte-level reading of a JPEG stream. A file source is read through the
// 4096-byte buffer inside INPUT_SOURCE; a memory source is read in place.
// All operations return a JPEG_* code; counts are compared unsigned.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Code reported by read_marker when the data ends right after a marker search.
constexpr int32_t kEndOfData = 256;

// Prepares the source for reading from the beginning of its data: a file
// source is left empty so that the first read refills; a memory source spans
// start..start+size. Clears the bit reader, pending_marker and
// scan_channel_offset. position is not changed.
void reset_input(INPUT_SOURCE *src);

// Reads up to 4096 bytes from the file into file_buffer, dropping what was
// unread. A read that delivers no byte is JPEG_FILE_ERROR (source unchanged).
[[nodiscard]] int32_t refill_input(INPUT_SOURCE *src);

// Makes n contiguous bytes available and consumes them; *data = their address
// (null on failure). Memory source short: JPEG_MEMORY_ERROR. File source short
// after a refill: JPEG_INTERNAL_ERROR; a file source never drops unread bytes
// here (asking for more than the buffer holds while it is not empty is
// JPEG_INTERNAL_ERROR).
[[nodiscard]] int32_t take_bytes(INPUT_SOURCE *src, uint32_t n, uint8_t **data);

// Makes the next n bytes available as one block at *data, consuming them.
// In place when they lie in the buffer; otherwise they are gathered into a
// temporary block (*block, *allocated = 1) that the caller releases with
// release_segment. A segment that cannot be read whole: JPEG_DATA_ERROR; no
// memory for the block: JPEG_MEMORY_ERROR; a fault while copying:
// JPEG_EXCEPTION_DETECTED. On failure no block is left to release.
[[nodiscard]] int32_t read_segment(INPUT_SOURCE *src, uint32_t n, uint8_t **block, uint8_t **data,
                                   int32_t *allocated);
// Releases the temporary block of read_segment (accepts null) and clears it.
void release_segment(uint8_t **block, int32_t *allocated);

// Reads a big-endian 16-bit value.
[[nodiscard]] int32_t read_u16(INPUT_SOURCE *src, uint32_t *value);

// Reads a segment length L (below 2: JPEG_DATA_ERROR) and discards L - 2
// bytes; bytes that cannot be taken: JPEG_DATA_ERROR.
[[nodiscard]] int32_t skip_segment(INPUT_SOURCE *src);

// Advances to the next marker (0xFF followed by a byte other than 0x00 and
// 0xFF) and leaves cur on its code byte, not consumed. Memory source exhausted:
// JPEG_MEMORY_ERROR; file errors are those of refill_input.
[[nodiscard]] int32_t seek_marker(INPUT_SOURCE *src);

// Delivers the next marker code: pending_marker if set (then cleared), else
// the code found by seek_marker, consumed; kEndOfData if it cannot be taken.
[[nodiscard]] int32_t read_marker(INPUT_SOURCE *src, int32_t *code);

} // namespace qrl
