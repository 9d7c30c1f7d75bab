#include "decode/huffman_tables.h"

namespace qrl {

int32_t build_huffman_decode_table(const uint8_t counts[16], const uint8_t *symbols,
                                   int32_t table_class, int32_t table_id,
                                   HUFFMAN_DECODE_TABLE *table) {
    table->table_class = table_class;
    table->table_id = table_id;

    // Code sizes in symbol order, then the canonical codes. Both are checked
    // before the table is touched: at most 257 codes, and every code of length
    // L below 2^L (counts that over-fill the code space are refused).
    uint8_t sizes[kMaxHuffmanSymbols];
    uint32_t codes[kMaxHuffmanSymbols];
    int32_t total = 0;
    for (int32_t length = 1; length <= 16; ++length) {
        for (int32_t i = 0; i < counts[length - 1]; ++i) {
            if (total == kMaxHuffmanSymbols) return JPEG_BAD_HUFFMAN_TABLE;
            sizes[total++] = static_cast<uint8_t>(length);
        }
    }
    uint32_t code = 0;
    int32_t k = 0;
    for (int32_t length = 1; length <= 16; ++length) {
        while (k < total && sizes[k] == length) {
            if (code >= (1u << length)) return JPEG_BAD_HUFFMAN_TABLE;
            codes[k++] = code++;
        }
        code <<= 1;
    }

    for (int32_t i = 0; i <= 16; ++i) {
        table->min_code[i] = 0;
        table->max_code[i] = 0;
        table->value_index[i] = 0;
    }
    k = 0;
    for (int32_t length = 1; length <= 16; ++length) {
        const int32_t n = counts[length - 1];
        if (n == 0) {
            table->max_code[length] = -1;
            continue;
        }
        table->value_index[length] = static_cast<uint16_t>(k);
        table->min_code[length] = static_cast<uint16_t>(codes[k]);
        for (int32_t i = 0; i < n; ++i) table->values[k + i] = symbols[k + i];
        k += n;
        // Stored in 16 bits; read back as unsigned unless it is -1.
        table->max_code[length] = static_cast<int16_t>(static_cast<uint16_t>(codes[k - 1]));
    }
    table->max_code[17] = -1;

    for (uint32_t &entry : table->lookahead) entry = 0;
    k = 0;
    for (int32_t length = 1; length <= 8; ++length) {
        for (int32_t i = 0; i < counts[length - 1]; ++i, ++k) {
            const uint32_t first = codes[k] << (8 - length);
            const uint32_t span = 1u << (8 - length);
            const uint32_t entry = (static_cast<uint32_t>(length) << 16) | symbols[k];
            for (uint32_t j = 0; j < span; ++j) table->lookahead[first + j] = entry;
        }
    }
    return JPEG_OK;
}

} // namespace qrl
