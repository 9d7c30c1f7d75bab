// Huffman decode tables: 16 counts and the symbols from the input, the rest
// of the input as entropy-coded bits. A refused table must leave the table
// words other than class and id as they were; an accepted one must decode
// the bits to the same symbols, with the same bit consumption, as a plain
// canonical search done here bit by bit.
#include <cstdio>
#include <cstring>
#include <vector>

#include "codec/codec.h"
#include "decode/bit_reader.h"
#include "decode/huffman_tables.h"
#include "fuzz/fuzz_common.h"

namespace {

struct Reference {
    std::vector<uint32_t> codes;
    std::vector<int32_t> lengths;
    std::vector<uint8_t> symbols;
};

// Canonical codes of T.81 C.2; false when the counts do not fit.
bool reference_codes(const uint8_t counts[16], const uint8_t *symbols, Reference *ref) {
    uint32_t code = 0;
    int32_t k = 0;
    for (int32_t length = 1; length <= 16; ++length) {
        for (int32_t i = 0; i < counts[length - 1]; ++i) {
            if (code >= (1u << length)) return false;
            ref->codes.push_back(code++);
            ref->lengths.push_back(length);
            ref->symbols.push_back(symbols[k++]);
        }
        code <<= 1;
    }
    return k <= qrl::kMaxHuffmanSymbols;
}

uint32_t bit_at(const std::vector<uint8_t> &bytes, int64_t index) {
    if (index < 0 || index >= static_cast<int64_t>(bytes.size()) * 8) return 0;
    return (bytes[static_cast<std::size_t>(index >> 3)] >> (7 - (index & 7))) & 1u;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 16) return 0;
    uint8_t counts[16];
    std::memcpy(counts, data, 16);
    int32_t total = 0;
    for (uint8_t c : counts) total += c;
    // The symbols as a DHT segment would give them; missing ones read as 0.
    std::vector<uint8_t> symbols(static_cast<std::size_t>(total > 0 ? total : 1), 0);
    const std::size_t have = size - 16;
    const std::size_t take = have < static_cast<std::size_t>(total) ? have : static_cast<std::size_t>(total);
    if (take > 0) std::memcpy(symbols.data(), data + 16, take);
    // Bits without 0xFF bytes, so that no marker or stuffing is involved.
    std::vector<uint8_t> bits(data + 16 + take, data + size);
    for (uint8_t &b : bits)
        if (b == 0xFF) b = 0xFE;

    auto *table = new HUFFMAN_DECODE_TABLE;
    std::memset(table, 0x5A, sizeof *table);
    const int32_t result = qrl::build_huffman_decode_table(counts, symbols.data(), 1, 2, table);
    Reference ref;
    const bool fits = total <= qrl::kMaxHuffmanSymbols && reference_codes(counts, symbols.data(), &ref);
    if (result != JPEG_OK && result != JPEG_BAD_HUFFMAN_TABLE)
        qrl_fuzz::finding("unexpected table builder result", result);
    if (fits != (result == JPEG_OK)) qrl_fuzz::finding("table accepted or refused wrongly", result);
    if (result != JPEG_OK) {
        // Nothing but the class and id may have been written.
        const auto *raw = reinterpret_cast<const uint8_t *>(table);
        for (std::size_t i = 2 * sizeof(int32_t); i < sizeof *table; ++i)
            if (raw[i] != 0x5A) qrl_fuzz::finding("refused table was written", result);
        delete table;
        return 0;
    }
    if (ref.codes.empty() || bits.empty()) {
        delete table;
        return 0;
    }

    INPUT_SOURCE *src = new INPUT_SOURCE;
    std::memset(src, 0, sizeof *src);
    src->start = bits.data();
    src->cur = bits.data();
    src->end = bits.data() + bits.size();
    src->size = static_cast<int32_t>(bits.size());
    src->avail = src->size;
    const int64_t available = static_cast<int64_t>(bits.size()) * 8;
    int64_t consumed = 0;
    for (int32_t n = 0; n < 4096; ++n) {
        // Reference: grow the code one bit at a time until it names a symbol.
        uint32_t code = 0;
        int32_t length = 0;
        int32_t expected = -1;
        while (length < 16 && expected < 0) {
            code = (code << 1) | bit_at(bits, consumed + length);
            ++length;
            for (std::size_t i = 0; i < ref.codes.size(); ++i)
                if (ref.lengths[i] == length && ref.codes[i] == code) {
                    expected = ref.symbols[i];
                    break;
                }
        }
        if (expected < 0 || consumed + length > available) break; // no code, or past the data
        int32_t symbol = -1;
        const int32_t status = qrl::decode_huffman_symbol(src, table, &symbol);
        if (status != 0) qrl_fuzz::finding("symbol decode status", status);
        consumed += length;
        const int64_t used = static_cast<int64_t>(src->position) * 8 - src->bit_count;
        if (symbol != expected) {
            std::fprintf(stderr, "symbol %d: got %d, expected %d (length %d)\n", n, symbol, expected, length);
            qrl_fuzz::finding("look-ahead and canonical search disagree", symbol);
        }
        if (used != consumed) qrl_fuzz::finding("symbol decode consumed a different number of bits", 0);
    }
    delete src;
    delete table;
    return 0;
}
