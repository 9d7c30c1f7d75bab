// Derived Huffman decode tables: canonical codes, 8-bit look-ahead, limits.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "decode/huffman_tables.h"

namespace {

// A table between two guard areas, to see that a build stays inside it.
struct GuardedTable {
    uint8_t before[64];
    HUFFMAN_DECODE_TABLE table;
    uint8_t after[64];
    GuardedTable() {
        std::memset(before, 0xA5, sizeof before);
        std::memset(&table, 0x5A, sizeof table);
        std::memset(after, 0xA5, sizeof after);
    }
    bool guards_intact() const {
        for (uint8_t b : before)
            if (b != 0xA5) return false;
        for (uint8_t b : after)
            if (b != 0xA5) return false;
        return true;
    }
};

std::vector<uint8_t> symbols_upto(int n) {
    std::vector<uint8_t> s(static_cast<size_t>(n) + 1);
    for (int i = 0; i < n; ++i) s[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    return s;
}

TEST(HuffmanTable, AllZeroCountsGiveAnEmptyTable) {
    GuardedTable g;
    const uint8_t counts[16] = {};
    const uint8_t none[1] = {0};
    ASSERT_EQ(qrl::build_huffman_decode_table(counts, none, 1, 2, &g.table), JPEG_OK);
    EXPECT_EQ(g.table.table_class, 1);
    EXPECT_EQ(g.table.table_id, 2);
    for (int l = 1; l <= 17; ++l) EXPECT_EQ(g.table.max_code[l], -1) << l;
    for (uint32_t e : g.table.lookahead) ASSERT_EQ(e, 0u);
    EXPECT_TRUE(g.guards_intact());
}

TEST(HuffmanTable, SingleCodeOfLengthOne) {
    GuardedTable g;
    uint8_t counts[16] = {};
    counts[0] = 1;
    const uint8_t symbol[1] = {0x37};
    ASSERT_EQ(qrl::build_huffman_decode_table(counts, symbol, 0, 0, &g.table), JPEG_OK);
    for (int i = 0; i < 128; ++i) ASSERT_EQ(g.table.lookahead[i], (1u << 16) | 0x37) << i;
    for (int i = 128; i < 256; ++i) ASSERT_EQ(g.table.lookahead[i], 0u) << i;
    EXPECT_EQ(g.table.max_code[1], 0);
    for (int l = 2; l <= 17; ++l) EXPECT_EQ(g.table.max_code[l], -1) << l;
    EXPECT_EQ(g.table.values[0], 0x37);
}

TEST(HuffmanTable, AnnexKLuminanceDc) {
    GuardedTable g;
    const uint8_t counts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> symbols = symbols_upto(12);
    ASSERT_EQ(qrl::build_huffman_decode_table(counts, symbols.data(), 0, 0, &g.table), JPEG_OK);
    EXPECT_EQ(g.table.min_code[2], 0);
    EXPECT_EQ(g.table.max_code[2], 0);
    EXPECT_EQ(g.table.min_code[3], 2);
    EXPECT_EQ(g.table.max_code[3], 6);
    EXPECT_EQ(g.table.max_code[9], 510);
    EXPECT_EQ(g.table.value_index[9], 11);
    EXPECT_EQ(g.table.max_code[1], -1);
    EXPECT_EQ(g.table.lookahead[0], (2u << 16) | 0);
    // Symbol 1 has code 010 (3 bits): look-ahead entries 0x40..0x5F.
    EXPECT_EQ(g.table.lookahead[0x40], (3u << 16) | 1);
    EXPECT_EQ(g.table.lookahead[0x5F], (3u << 16) | 1);
    // Code 11111110 is symbol 10 (8 bits); 11111111 begins the 9-bit code.
    EXPECT_EQ(g.table.lookahead[0xFE], (8u << 16) | 10);
    EXPECT_EQ(g.table.lookahead[0xFF], 0u);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(g.table.values[i], i);
}

TEST(HuffmanTable, MaxCodeOfSixteenBitsIsReadUnsigned) {
    GuardedTable g;
    uint8_t counts[16] = {};
    counts[0] = 1;   // 0
    counts[15] = 200; // 16-bit codes from 0x8000 up
    const std::vector<uint8_t> symbols = symbols_upto(201);
    ASSERT_EQ(qrl::build_huffman_decode_table(counts, symbols.data(), 1, 3, &g.table), JPEG_OK);
    EXPECT_EQ(static_cast<uint16_t>(g.table.min_code[16]), 0x8000);
    EXPECT_EQ(static_cast<uint16_t>(g.table.max_code[16]), 0x8000 + 199);
    EXPECT_EQ(g.table.value_index[16], 1);
}

struct LimitCase {
    const char *name;
    std::vector<std::pair<int, int>> lengths; // (code length, count)
    int32_t result;
};

class HuffmanLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(HuffmanLimits, CountsAreCheckedBeforeTheTableIsWritten) {
    const LimitCase &c = GetParam();
    uint8_t counts[16] = {};
    int total = 0;
    for (auto [length, count] : c.lengths) {
        counts[length - 1] = static_cast<uint8_t>(count);
        total += count;
    }
    const std::vector<uint8_t> symbols = symbols_upto(total);
    GuardedTable g;
    HUFFMAN_DECODE_TABLE before;
    std::memcpy(&before, &g.table, sizeof before);
    EXPECT_EQ(qrl::build_huffman_decode_table(counts, symbols.data(), 1, 1, &g.table), c.result)
        << c.name;
    EXPECT_TRUE(g.guards_intact()) << c.name;
    EXPECT_EQ(g.table.table_class, 1);
    EXPECT_EQ(g.table.table_id, 1);
    if (c.result != JPEG_OK) {
        EXPECT_EQ(std::memcmp(g.table.lookahead, before.lookahead, sizeof before.lookahead), 0)
            << c.name << ": a refused table keeps its earlier contents";
        EXPECT_EQ(std::memcmp(g.table.max_code, before.max_code, sizeof before.max_code), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HuffmanLimits,
    ::testing::Values(
        // 257 codes fit the code space (255 of 9 bits, 2 of 10 bits); 258 is one too many.
        LimitCase{"total_257", {{9, 255}, {10, 2}}, JPEG_OK},
        LimitCase{"total_258", {{9, 255}, {10, 3}}, JPEG_BAD_HUFFMAN_TABLE},
        LimitCase{"full_length_8", {{8, 255}}, JPEG_OK},
        LimitCase{"two_of_length_1", {{1, 2}}, JPEG_OK},
        LimitCase{"three_of_length_1", {{1, 3}}, JPEG_BAD_HUFFMAN_TABLE},
        LimitCase{"five_of_length_2", {{2, 5}}, JPEG_BAD_HUFFMAN_TABLE},
        LimitCase{"overfull_after_short_codes", {{1, 1}, {2, 1}, {3, 3}}, JPEG_BAD_HUFFMAN_TABLE},
        LimitCase{"overfull_long_codes", {{9, 255}, {10, 255}}, JPEG_BAD_HUFFMAN_TABLE}),
    [](const ::testing::TestParamInfo<LimitCase> &p) { return std::string(p.param.name); });

TEST(HuffmanTable, RebuildReplacesTheEarlierTable) {
    GuardedTable g;
    uint8_t counts[16] = {};
    counts[0] = 2;
    const uint8_t first[2] = {5, 6};
    ASSERT_EQ(qrl::build_huffman_decode_table(counts, first, 0, 1, &g.table), JPEG_OK);
    uint8_t counts2[16] = {};
    counts2[2] = 1;
    const uint8_t second[1] = {9};
    ASSERT_EQ(qrl::build_huffman_decode_table(counts2, second, 0, 1, &g.table), JPEG_OK);
    EXPECT_EQ(g.table.max_code[1], -1);
    EXPECT_EQ(g.table.max_code[3], 0);
    EXPECT_EQ(g.table.lookahead[0], (3u << 16) | 9);
    EXPECT_EQ(g.table.lookahead[0x20], 0u);
}

} // namespace
