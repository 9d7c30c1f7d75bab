// Derived Huffman decode tables (canonical codes of ITU-T T.81 Annex C with an
// 8-bit look-ahead).
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qrl {

// Largest number of codes a table may hold (the values array has this room).
constexpr int32_t kMaxHuffmanSymbols = 257;

// Builds `table` from the 16 code-length counts and the symbols that follow
// them in a DHT entry. Refuses with JPEG_BAD_HUFFMAN_TABLE (writing only the
// class and id) a table of more than 257 codes or one whose counts over-fill
// the code space of some length.
[[nodiscard]] int32_t build_huffman_decode_table(const uint8_t counts[16], const uint8_t *symbols,
                                                 int32_t table_class, int32_t table_id,
                                                 HUFFMAN_DECODE_TABLE *table);

} // namespace qrl
