// Output stream of the encoder: a file written through the record's 4096-byte
// buffer, or the caller's memory buffer. The stream also carries the entropy
// coder's pending bits, flushed (with byte stuffing and 1-bit padding) before
// any marker bytes.
//
// Two bit-accumulator conventions exist, one per Huffman block encoder:
// - narrow (portable set): bit_count = free bits of the one pending byte
//   (8 = nothing pending), the pending bits at the top of the low byte of
//   bit_buffer;
// - wide (SIMD sets): bit_count = pending bits (0 = nothing pending), first
//   bit in bit 63 of bit_buffer.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Kernel slots out_stream_open / out_stream_write, narrow convention.
void out_stream_open(INPUT_SOURCE *stream, uint8_t *buffer, int32_t size);
[[nodiscard]] int32_t out_stream_write(const uint8_t *data, int32_t length, INPUT_SOURCE *stream);
// The same slots for the wide convention (the SIMD sets).
void out_stream_open_wide(INPUT_SOURCE *stream, uint8_t *buffer, int32_t size);
[[nodiscard]] int32_t out_stream_write_wide(const uint8_t *data, int32_t length,
                                            INPUT_SOURCE *stream);

// True when the stream's kernel set keeps its bits in the wide convention.
[[nodiscard]] bool stream_uses_wide_bits(const INPUT_SOURCE *stream);

// Flushes the pending bits, then writes a file stream's buffered bytes.
[[nodiscard]] int32_t out_stream_finish(INPUT_SOURCE *stream);
// Writes a file stream's buffered bytes and starts the buffer again.
[[nodiscard]] int32_t out_stream_drain(INPUT_SOURCE *stream);

// Appends one entropy-coded byte (0xFF is followed by a stuffed 0x00).
// Memory: JPEG_BUFFER_TOO_SMALL when the buffer is full, nothing written.
// File: a full buffer is written out first (JPEG_FILE_ERROR on failure).
[[nodiscard]] int32_t put_stuffed_byte(INPUT_SOURCE *stream, uint32_t byte);

} // namespace qrl
