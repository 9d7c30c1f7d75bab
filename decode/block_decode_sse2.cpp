// Block decoders of the SIMD kernel sets. They give the portable kernels'
// coefficients and predictor for well-formed data and keep their state in
// the same INPUT_SOURCE fields, but keep the accumulator topped up to more
// than 56 bits and differ where the data are cut short:
// - a marker met inside the data is recorded in pending_marker and decoding
//   goes on as if the data continued with 0-bits, until the restart step
//   takes the marker;
// - when a memory source has no more bytes, or a file source cannot be
//   refilled, the block ends (result 0, no error) as soon as it needs a bit
//   that is not there; every later block ends the same way.
// The wide variants take four bytes at once when four are available and none
// of them is 0xFF.
#include <emmintrin.h>

#include <cstring>

#include "decode/bit_reader.h"
#include "decode/block_decode.h"
#include "decode/input_source.h"
#include "transform/zigzag.h"

namespace qrl {
namespace {

// Accumulator capacity: bytes are added while at most this many bits are held.
constexpr int32_t kTopUpBits = 56;

inline bool has_ff_byte(uint32_t x) {
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
        while (src->bit_count <= kTopUpBits) {
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
                    if (!has_ff_byte(x)) {
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

template <bool kFourBytes, bool kFullBlock>
int32_t decode_block_wide(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc, const HUFFMAN_DECODE_TABLE *ac,
                          int16_t *dc_predictor, int16_t *block) {
    if constexpr (kFullBlock) {
        const __m128i zero = _mm_setzero_si128();
        for (int32_t i = 0; i < 64; i += 8) _mm_storeu_si128(reinterpret_cast<__m128i *>(block + i), zero);
    }
    WideReader<kFourBytes> r{src};
    int32_t sym;
    if (!r.symbol(dc, &sym)) return 0;
    int32_t s = sym & 15;
    int32_t diff = 0;
    if (s != 0) {
        if (!r.need(s)) return 0;
        diff = extend_value(r.take_bits(s), s);
    }
    *dc_predictor = static_cast<int16_t>(*dc_predictor + diff);
    block[0] = *dc_predictor;
    int32_t k = 1;
    int32_t remaining = 63;
    while (remaining > 0) {
        // A symbol (at most 17 bits) and its value (at most 15) fit in 32
        // held bits; only where the data ran out are the checks needed.
        if (src->bit_count < 32) r.fill();
        const bool held = src->bit_count >= 32;
        if (held) {
            sym = r.symbol_held(ac);
        } else if (!r.symbol(ac, &sym)) {
            return 0;
        }
        const int32_t run = (sym >> 4) & 15;
        s = sym & 15;
        if (s != 0) {
            remaining -= run + 1;
            k += run;
            if (!held && !r.need(s)) return 0;
            const int32_t v = extend_value(r.take_bits(s), s);
            if constexpr (kFullBlock) block[zigzag_to_natural[k]] = static_cast<int16_t>(v);
            k += 1;
        } else if (run == 15) {
            remaining -= 16;
            k += 16;
        } else {
            break;
        }
    }
    return 0;
}

} // namespace

int32_t decode_huffman_block_sse2(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc, const HUFFMAN_DECODE_TABLE *ac,
                                  int16_t *dc_predictor, int16_t *block) {
    return decode_block_wide<false, true>(src, dc, ac, dc_predictor, block);
}

int32_t decode_huffman_block_wide_sse2(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc,
                                       const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor, int16_t *block) {
    return decode_block_wide<true, true>(src, dc, ac, dc_predictor, block);
}

int32_t decode_huffman_dc_only_sse2(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc,
                                    const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor, int16_t *block) {
    return decode_block_wide<true, false>(src, dc, ac, dc_predictor, block);
}

} // namespace qrl
