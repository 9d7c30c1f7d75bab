// Bit reader: accumulator fill with byte-stuffing removal, and the slow path of
// the Huffman symbol look-up (ITU-T T.81, F.2.2.3 and F.2.2.5).
#include "decode/bit_reader.h"

#include "decode/input_source.h"

namespace qrl {
namespace {

// Makes at least one byte available at cur. Returns 0 with avail > 0,
// 1 when a memory source is exhausted, or a negative refill error.
int32_t byte_available(INPUT_SOURCE *src) {
    if (src->avail > 0) return 0;
    if (src->file == nullptr) return 1;
    const int32_t status = refill_input(src);
    if (status != 0) return status;
    // A failed read that reports no bytes leaves nothing to take; treat it as
    // the failure it is rather than spinning on an empty buffer.
    if (src->avail <= 0) return JPEG_FILE_ERROR;
    return 0;
}

inline uint8_t take_byte(INPUT_SOURCE *src) {
    const uint8_t byte = *src->cur++;
    src->avail -= 1;
    src->position += 1;
    return byte;
}

inline int32_t at_marker(const INPUT_SOURCE *src, int32_t wanted) {
    return src->bit_count < wanted ? FILL_AT_MARKER : 0;
}

} // namespace

int32_t fill_bit_buffer(INPUT_SOURCE *src, int32_t wanted) {
    while (src->bit_count <= 24) {
        // Nothing after a marker is ever taken into the accumulator.
        if (src->pending_marker != 0) return at_marker(src, wanted);
        int32_t status = byte_available(src);
        if (status == 1) return 0; // memory data exhausted: later bits read as 0
        if (status != 0) return status;
        uint32_t byte = take_byte(src);
        if (byte == 0xFF) {
            uint32_t next;
            do {
                status = byte_available(src);
                if (status == 1) return JPEG_DATA_ERROR; // 0xFF as the last byte
                if (status != 0) return status;
                next = take_byte(src);
            } while (next == 0xFF); // fill bytes
            if (next != 0x00) {
                // A marker: both of its bytes are consumed, the code is kept.
                src->pending_marker = static_cast<uint8_t>(next);
                return at_marker(src, wanted);
            }
            // 0xFF 0x00 is a stuffed 0xFF data byte.
        }
        src->bit_buffer = (src->bit_buffer << 8) | byte;
        src->bit_count += 8;
    }
    return 0;
}

int32_t decode_huffman_symbol_slow(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *table, int32_t *symbol) {
    int32_t status;
    *symbol = 0;
    if (src->bit_count < 8) {
        status = fill_bit_buffer(src, 0);
        if (status != 0) return status;
    }
    int32_t length = 1; // fewer than 8 bits: the search starts at length 1
    if (src->bit_count >= 8) {
        const uint32_t entry = table->lookahead[peek_bits(src, 8)];
        if (entry != 0) {
            src->bit_count -= static_cast<int32_t>(entry >> 16);
            *symbol = static_cast<int32_t>(entry & 0xFFFFu);
            return 0;
        }
        length = 9;
    }
    if (src->bit_count < length) {
        status = fill_bit_buffer(src, length);
        if (status != 0) return status;
    }
    uint32_t code = get_bits(src, length);
    // Canonical search; max_code -1 marks a length without codes, any other
    // value is an unsigned 16-bit code.
    while (length <= 16) {
        const int32_t max = table->max_code[length];
        if (max != -1 && code <= static_cast<uint16_t>(max)) break;
        if (src->bit_count <= 0) {
            status = fill_bit_buffer(src, 1);
            if (status != 0) return status;
        }
        code = (code << 1) | get_bits(src, 1);
        length += 1;
    }
    if (length > 16) return 0; // no code matched: symbol 0 after 17 bits
    // A table built from counts that overfill the code space can place a code
    // below min_code; such a code cannot name a symbol.
    const int32_t index =
        static_cast<int32_t>(table->value_index[length]) + static_cast<int32_t>(code) - table->min_code[length];
    if (index >= 0 && index < 257) *symbol = table->values[index];
    return 0;
}

} // namespace qrl
