// Accumulator of the SIMD-set block decoders, shared by the per-block kernels
// and the whole-MCU decoder of the scan loop. It keeps the accumulator topped
// up to more than 56 bits; past a marker it adds 0-bits, and where the data
// run out it stops adding (`ended`) and the symbol reads report the shortage.
// The four-byte variant takes four bytes at once when none of them is 0xFF.
#pragma once

#include <cstdint>
#include <cstring>

#include "codec/codec.h"
#include "decode/input_source.h"

namespace qrl {

// Accumulator capacity: bytes are added while at most this many bits are held.
constexpr int32_t kWideTopUpBits = 56;

inline bool has_ff_byte32(uint32_t x) {
    const uint32_t v = ~x; // bytes of x equal to 0xFF are zero bytes of v
    return ((v - 0x01010101u) & ~v & 0x80808080u) != 0;
}

template <bool kFourBytes>
struct WideReader {
    INPUT_SOURCE *src;
    bool ended = false; // the data ran out: no byte can be added any more

    // Makes a byte available at cur; false when the data ran out.
    bool byte_ready() {
        if (src->avail > 0) return true;
        if (src->file == nullptr) return false;
        if (refill_input(src) != 0) return false;
        return src->avail > 0;
    }

    uint8_t take() {
        const uint8_t b = *src->cur++;
        src->avail -= 1;
        src->position += 1;
        return b;
    }

    void push(uint32_t byte) {
        src->bit_buffer = (src->bit_buffer << 8) | byte;
        src->bit_count += 8;
    }

    void fill() {
        while (src->bit_count <= kWideTopUpBits) {
            if (src->pending_marker != 0) {
                push(0); // past a marker the data read as 0-bits
                continue;
            }
            if (ended || !byte_ready()) {
                ended = true;
                return;
            }
            if constexpr (kFourBytes) {
                if (src->avail >= 4 && src->bit_count <= 32) {
                    uint32_t x;
                    std::memcpy(&x, src->cur, 4);
                    if (!has_ff_byte32(x)) {
                        src->bit_buffer = (src->bit_buffer << 32) | __builtin_bswap32(x);
                        src->bit_count += 32;
                        src->cur += 4;
                        src->avail -= 4;
                        src->position += 4;
                        continue;
                    }
                }
            }
            const uint32_t byte = take();
            if (byte != 0xFF) {
                push(byte);
                continue;
            }
            uint32_t next;
            do {
                if (!byte_ready()) {
                    ended = true;
                    return;
                }
                next = take();
            } while (next == 0xFF);
            if (next == 0x00) {
                push(0xFF);
            } else {
                src->pending_marker = static_cast<uint8_t>(next);
            }
        }
    }

    // True when n bits (n <= 32) are held, filling first if needed.
    bool need(int32_t n) {
        if (src->bit_count < n) fill();
        return src->bit_count >= n;
    }

    uint32_t take_bits(int32_t n) {
        src->bit_count -= n;
        return static_cast<uint32_t>(src->bit_buffer >> src->bit_count) & ((1u << n) - 1u);
    }

    // Decodes a symbol from at least 17 held bits (no end-of-data checks).
    int32_t symbol_held(const HUFFMAN_DECODE_TABLE *t) {
        const int32_t have = src->bit_count;
        const uint32_t bits16 = static_cast<uint32_t>(src->bit_buffer >> (have - 16)) & 0xFFFFu;
        const uint32_t entry = t->lookahead[bits16 >> 8];
        if (entry != 0) {
            src->bit_count = have - static_cast<int32_t>(entry >> 16);
            return static_cast<int32_t>(entry & 0xFFFFu);
        }
        for (int32_t length = 9; length <= 16; ++length) {
            const uint32_t code = bits16 >> (16 - length);
            const int32_t max = t->max_code[length];
            if (max != -1 && code <= static_cast<uint16_t>(max)) {
                src->bit_count = have - length;
                const int32_t index = static_cast<int32_t>(t->value_index[length]) + static_cast<int32_t>(code) -
                                      t->min_code[length];
                return (index >= 0 && index < 257) ? t->values[index] : 0;
            }
        }
        src->bit_count = have - 17;
        return 0;
    }

    // Decodes a symbol; false when the code needs bits the data no longer has.
    bool symbol(const HUFFMAN_DECODE_TABLE *t, int32_t *sym) {
        (void)need(17);
        const int32_t have = src->bit_count;
        if (have <= 0) return false;
        // The next 16 bits, zero-padded when fewer remain at the end.
        const uint32_t bits16 = have >= 16 ? static_cast<uint32_t>(src->bit_buffer >> (have - 16)) & 0xFFFFu
                                           : static_cast<uint32_t>(src->bit_buffer << (16 - have)) & 0xFFFFu;
        const uint32_t entry = t->lookahead[bits16 >> 8];
        if (entry != 0) {
            const int32_t length = static_cast<int32_t>(entry >> 16);
            if (length > have) return false;
            src->bit_count -= length;
            *sym = static_cast<int32_t>(entry & 0xFFFFu);
            return true;
        }
        for (int32_t length = 9; length <= 16; ++length) {
            const uint32_t code = bits16 >> (16 - length);
            const int32_t max = t->max_code[length];
            if (max != -1 && code <= static_cast<uint16_t>(max)) {
                if (length > have) return false;
                src->bit_count -= length;
                const int32_t index = static_cast<int32_t>(t->value_index[length]) + static_cast<int32_t>(code) -
                                      t->min_code[length];
                *sym = (index >= 0 && index < 257) ? t->values[index] : 0;
                return true;
            }
        }
        // No code matched: 17 bits are consumed and the symbol is 0.
        if (have < 17) return false;
        src->bit_count -= 17;
        *sym = 0;
        return true;
    }
};

} // namespace qrl
