// Helpers for the entropy-decoder tests: hand-made bit streams with byte
// stuffing, memory sources over them, and small Huffman tables whose codes are
// easy to write by hand.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "codec/codec.h"
#include "decode/huffman_tables.h"

namespace qrl_test {

// Appends bits MSB first; flush() pads the last byte with 1-bits and stuffs
// a 0x00 after every 0xFF data byte, as an encoder does.
class BitWriter {
public:
    void put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            acc_ = (acc_ << 1) | ((value >> i) & 1u);
            if (++bits_ == 8) emit();
        }
    }
    // Raw bytes (a marker, say), after padding the current byte.
    void raw(std::initializer_list<uint8_t> bytes) {
        pad();
        for (uint8_t b : bytes) out_.push_back(b);
    }
    void pad() {
        while (bits_ != 0) put(1, 1);
    }
    std::vector<uint8_t> bytes() {
        pad();
        return out_;
    }

private:
    void emit() {
        const uint8_t byte = static_cast<uint8_t>(acc_);
        out_.push_back(byte);
        if (byte == 0xFF) out_.push_back(0x00);
        acc_ = 0;
        bits_ = 0;
    }
    std::vector<uint8_t> out_;
    uint32_t acc_ = 0;
    int bits_ = 0;
};

// A memory source over `data` (which must outlive it).
inline void memory_source(INPUT_SOURCE *src, std::vector<uint8_t> &data) {
    std::memset(src, 0, sizeof(*src));
    src->start = src->cur = data.data();
    src->end = data.data() + data.size();
    src->size = src->avail = static_cast<int32_t>(data.size());
}

// Table whose symbols all have `length`-bit codes: symbol i has code i.
inline HUFFMAN_DECODE_TABLE flat_table(int table_class, int length, const std::vector<uint8_t> &symbols) {
    HUFFMAN_DECODE_TABLE t{};
    uint8_t counts[16] = {};
    counts[length - 1] = static_cast<uint8_t>(symbols.size());
    EXPECT_EQ(qrl::build_huffman_decode_table(counts, symbols.data(), table_class, 0, &t), JPEG_OK);
    return t;
}

// DC table: categories 0..11 with 4-bit codes equal to the category.
inline HUFFMAN_DECODE_TABLE dc_table4() {
    return flat_table(0, 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
}

// AC table with 8-bit codes; code of symbol = its index in kAcSymbols.
inline const std::vector<uint8_t> &ac_symbols() {
    static const std::vector<uint8_t> s = {0x00, 0xF0, 0x01, 0x02, 0x03, 0x11, 0x21, 0xF1,
                                           0x0A, 0x31, 0x10, 0x20, 0x3F, 0xE2, 0x0F, 0x41};
    return s;
}
inline HUFFMAN_DECODE_TABLE ac_table8() { return flat_table(1, 8, ac_symbols()); }
inline uint32_t ac_code(uint8_t symbol) {
    const auto &s = ac_symbols();
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] == symbol) return static_cast<uint32_t>(i);
    ADD_FAILURE() << "no code for AC symbol " << int(symbol);
    return 0;
}

// Writes value v in category s (the bits an encoder sends after the symbol).
inline void put_value(BitWriter &w, int v, int s) {
    if (s == 0) return;
    const uint32_t bits = v >= 0 ? static_cast<uint32_t>(v) : static_cast<uint32_t>(v + (1 << s) - 1);
    w.put(bits, s);
}
inline int category(int v) {
    int a = v < 0 ? -v : v, s = 0;
    while (a) {
        ++s;
        a >>= 1;
    }
    return s;
}
// DC difference with dc_table4.
inline void put_dc(BitWriter &w, int diff) {
    const int s = category(diff);
    w.put(static_cast<uint32_t>(s), 4);
    put_value(w, diff, s);
}
// AC run/value with ac_table8 (the symbol must be in the table).
inline void put_ac(BitWriter &w, int run, int v) {
    const int s = category(v);
    w.put(ac_code(static_cast<uint8_t>((run << 4) | s)), 8);
    put_value(w, v, s);
}
inline void put_eob(BitWriter &w) { w.put(ac_code(0x00), 8); }

} // namespace qrl_test
