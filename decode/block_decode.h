// Portable Huffman block decoders (kernel slots decode_huffman_block and
// decode_huffman_dc_only).
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Decodes one sequential block into `block` (64 coefficients, natural order)
// and updates the 16-bit DC predictor. Returns 0 or a negative error (a file
// refill failure, a 0xFF as the last byte of a memory source). A marker met
// inside the data ends the block with the coefficients decoded so far.
[[nodiscard]] int32_t decode_huffman_block(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc,
                                           const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor,
                                           int16_t *block);

// As decode_huffman_block, but the block is not cleared and only coefficient
// 0 is written; AC symbols and their value bits are read and discarded.
[[nodiscard]] int32_t decode_huffman_dc_only(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc,
                                             const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor,
                                             int16_t *block);

// SIMD-set twins (x86 only). Same results for well-formed data; past a
// marker they decode 0-bits, and where the data end the block ends quietly.
// Set A takes bytes one by one; the wide block decoder (sets B to D) and the
// DC-only decoder (all sets) take four bytes at once where none is 0xFF.
[[nodiscard]] int32_t decode_huffman_block_sse2(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc,
                                                const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor,
                                                int16_t *block);
[[nodiscard]] int32_t decode_huffman_block_wide_sse2(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc,
                                                     const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor,
                                                     int16_t *block);
[[nodiscard]] int32_t decode_huffman_dc_only_sse2(INPUT_SOURCE *src, const HUFFMAN_DECODE_TABLE *dc,
                                                  const HUFFMAN_DECODE_TABLE *ac, int16_t *dc_predictor,
                                                  int16_t *block);

} // namespace qrl
