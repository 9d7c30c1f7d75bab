// Bit reader of the Huffman entropy decoders: byte stuffing removal, marker
// detection and symbol look-up on top of the INPUT_SOURCE.
//
// The accumulator holds `bit_count` valid bits at the bottom of `bit_buffer`;
// each new byte is shifted in at the bottom, so the oldest unread bit is the
// highest valid one. When more bits are taken than the data holds, bit_count
// goes negative and every read yields 0 until a restart or the end of the
// scan resets it.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Status of fill_bit_buffer (and of the readers built on it): a marker has
// stopped the data and fewer bits than wanted are valid. Not an error.
constexpr int32_t FILL_AT_MARKER = 100;

// Lowest value bit_count is allowed to reach. Reads past the end of the data
// keep subtracting; saturating here keeps the counter from overflowing on huge
// images cut short, and every negative value behaves the same.
constexpr int32_t kBitCountFloor = -(1 << 20);

// Magnitude-category extension (ITU-T T.81, F.2.2.1): a value v of s bits
// whose top bit is 0 stands for v + 1 - 2^s.
inline constexpr int32_t kExtendOffset[16] = {
    0,     -1,    -3,    -7,     -15,    -31,    -63,    -127,
    -255,  -511,  -1023, -2047,  -4095,  -8191,  -16383, -32767,
};

[[nodiscard]] inline int32_t extend_value(uint32_t v, int32_t s) {
    return (v < (1u << (s - 1))) ? static_cast<int32_t>(v) + kExtendOffset[s] : static_cast<int32_t>(v);
}

// Tops the accumulator up to more than 24 valid bits. Returns 0,
// FILL_AT_MARKER when a marker stopped the data with fewer than `wanted` bits
// valid, or a negative error (JPEG_DATA_ERROR for a 0xFF as the last byte of
// a memory source, a refill error for a file source). A memory source that
// runs out returns 0 and leaves the accumulator as it is.
[[nodiscard]] int32_t fill_bit_buffer(INPUT_SOURCE *src, int32_t wanted);

// Next n bits (1..16) without consuming them; 0 when fewer are valid.
[[nodiscard]] inline uint32_t peek_bits(const INPUT_SOURCE *src, int32_t n) {
    const int32_t left = src->bit_count - n;
    if (left < 0) return 0;
    return static_cast<uint32_t>(src->bit_buffer >> left) & ((1u << n) - 1u);
}

// Consumes n bits (1..16) and returns them; 0 when fewer were valid (the
// valid ones are dropped and bit_count goes negative).
inline uint32_t get_bits(INPUT_SOURCE *src, int32_t n) {
    const int32_t left = src->bit_count - n;
    if (left < 0) {
        src->bit_count = left < kBitCountFloor ? kBitCountFloor : left;
        return 0;
    }
    src->bit_count = left;
    return static_cast<uint32_t>(src->bit_buffer >> left) & ((1u << n) - 1u);
}

// Slow path of decode_huffman_symbol: refill and canonical search.
[[nodiscard]] int32_t decode_huffman_symbol_slow(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *table,
                                                 int32_t *symbol);

// Decodes one Huffman symbol. Returns 0 with the symbol, or the nonzero
// status of a refill (FILL_AT_MARKER or an error). A code that matches no
// length up to 16 yields symbol 0 after 17 bits.
[[nodiscard]] inline int32_t decode_huffman_symbol(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *table,
                                                   int32_t *symbol) {
    if (src->bit_count >= 8) {
        const uint32_t entry = table->lookahead[peek_bits(src, 8)];
        if (entry != 0) {
            src->bit_count -= static_cast<int32_t>(entry >> 16);
            *symbol = static_cast<int32_t>(entry & 0xFFFFu);
            return 0;
        }
    }
    return decode_huffman_symbol_slow(src, table, symbol);
}

// Makes sure n bits are valid, filling when fewer are: 0 when the caller may
// read them (possibly as zero bits past the end of memory data),
// FILL_AT_MARKER at a marker, or a negative error.
[[nodiscard]] inline int32_t ensure_bits(INPUT_SOURCE *src, int32_t n) {
    if (src->bit_count < n) return fill_bit_buffer(src, n);
    return 0;
}

} // namespace qrl
