// Huffman encoding of quantized blocks (ITU-T T.81 Annex F.1.2 and G.1.2):
// derived encode tables, the bit writer and the sequential block encoder.
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Number of significant bits of v, for v = 0..255 (0 for 0).
struct BitLengthTable {
    uint8_t v[256];
};
constexpr BitLengthTable make_bit_length_table() {
    BitLengthTable t{};
    for (int32_t i = 1; i < 256; ++i) {
        int32_t n = 0;
        for (int32_t x = i; x != 0; x >>= 1) ++n;
        t.v[i] = static_cast<uint8_t>(n);
    }
    return t;
}
inline constexpr BitLengthTable kBitLength = make_bit_length_table();

// Number of significant bits of a magnitude below 65536: one look-up up to
// 255, one shift and look-up above.
inline int32_t bit_length(uint32_t magnitude) {
    return magnitude <= 255 ? kBitLength.v[magnitude] : 8 + kBitLength.v[(magnitude >> 8) & 0xFF];
}

// Builds the encode table from a table's 16 code-length counts and its
// symbols. JPEG_BAD_HUFFMAN_TABLE for more than 257 codes or counts that
// over-fill the code space.
[[nodiscard]] int32_t build_huffman_encode_table(const uint8_t counts[16], const uint8_t *symbols,
                                                 HUFFMAN_ENCODE_TABLE *table);

// Appends the low n bits (n = 0..16) of value, most significant first, in the
// narrow convention (bit_count = free bits of the pending byte).
[[nodiscard]] int32_t put_bits(INPUT_SOURCE *stream, uint32_t value, int32_t n);

// Writes the code of one symbol; a symbol without a code writes nothing.
[[nodiscard]] inline int32_t put_symbol(INPUT_SOURCE *stream, const HUFFMAN_ENCODE_TABLE *table,
                                        int32_t symbol) {
    return put_bits(stream, table->code[symbol], table->code_length[symbol]);
}

// Kernel slot encode_huffman_block, portable form: one block (64 quantized
// coefficients in natural order) with DC prediction, narrow convention.
[[nodiscard]] int32_t encode_huffman_block(INPUT_SOURCE *stream, const HUFFMAN_ENCODE_TABLE *dc,
                                           const HUFFMAN_ENCODE_TABLE *ac, int16_t *dc_predictor,
                                           const int16_t *block);

// The SIMD sets' form of the slot: the same bits, wide accumulator
// convention (see out_stream.h); x86 only.
[[nodiscard]] int32_t encode_huffman_block_sse2(INPUT_SOURCE *stream, const HUFFMAN_ENCODE_TABLE *dc,
                                                const HUFFMAN_ENCODE_TABLE *ac,
                                                int16_t *dc_predictor, const int16_t *block);

} // namespace qrl
