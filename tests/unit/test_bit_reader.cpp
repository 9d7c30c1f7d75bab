// Bit reader: byte stuffing, fill bytes, markers, end of data, and the
// Huffman symbol look-up on short and long codes.
#include <vector>

#include <gtest/gtest.h>

#include "decode/bit_reader.h"
#include "entropy_test_util.h"

namespace {

using namespace qrl;
using qrl_test::memory_source;

struct StuffingCase {
    const char *name;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> expected; // data bytes delivered, in order
};

class StuffingTest : public ::testing::TestWithParam<StuffingCase> {};

TEST_P(StuffingTest, DeliversDataBytes) {
    StuffingCase c = GetParam();
    INPUT_SOURCE src;
    memory_source(&src, c.bytes);
    ASSERT_EQ(fill_bit_buffer(&src, 0), 0);
    ASSERT_GE(src.bit_count, static_cast<int32_t>(8 * c.expected.size()));
    for (uint8_t e : c.expected) EXPECT_EQ(get_bits(&src, 8), e);
    EXPECT_EQ(src.pending_marker, 0);
}

INSTANTIATE_TEST_SUITE_P(
    BitReader, StuffingTest,
    ::testing::Values(StuffingCase{"stuffed_ff", {0xFF, 0x00, 0x12, 0x34}, {0xFF, 0x12, 0x34}},
                      StuffingCase{"fill_then_stuffed", {0xFF, 0xFF, 0x00, 0x56}, {0xFF, 0x56}},
                      StuffingCase{"many_fill_bytes", {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01}, {0xFF, 0x01}},
                      StuffingCase{"plain", {0x01, 0x02, 0x03, 0x04, 0x05}, {0x01, 0x02, 0x03, 0x04}}),
    [](const ::testing::TestParamInfo<StuffingCase> &p) { return std::string(p.param.name); });

TEST(BitReader, LastByteFFIsDataError) {
    std::vector<uint8_t> data = {0x12, 0xFF};
    INPUT_SOURCE src;
    memory_source(&src, data);
    EXPECT_EQ(fill_bit_buffer(&src, 16), JPEG_DATA_ERROR);
    // A run of fill bytes that reaches the end is the same error.
    std::vector<uint8_t> run = {0xFF, 0xFF, 0xFF};
    memory_source(&src, run);
    EXPECT_EQ(fill_bit_buffer(&src, 1), JPEG_DATA_ERROR);
}

TEST(BitReader, MarkerStopsFillAndIsKept) {
    std::vector<uint8_t> data = {0xAB, 0xFF, 0xFF, 0xD3, 0x11, 0x22};
    INPUT_SOURCE src;
    memory_source(&src, data);
    EXPECT_EQ(fill_bit_buffer(&src, 16), FILL_AT_MARKER);
    EXPECT_EQ(src.pending_marker, 0xD3);
    EXPECT_EQ(src.bit_count, 8);
    EXPECT_EQ(src.cur, data.data() + 4); // both marker bytes consumed, nothing after
    EXPECT_EQ(src.position, 4);
    // Enough bits for what is wanted: not an error, no byte taken past the marker.
    EXPECT_EQ(fill_bit_buffer(&src, 8), 0);
    EXPECT_EQ(get_bits(&src, 8), 0xABu);
    EXPECT_EQ(src.cur, data.data() + 4);
    // Reading past the marker yields zeros and a negative count.
    EXPECT_EQ(fill_bit_buffer(&src, 4), FILL_AT_MARKER);
    EXPECT_EQ(get_bits(&src, 4), 0u);
    EXPECT_LT(src.bit_count, 0);
}

TEST(BitReader, EndOfMemoryReadsZeros) {
    std::vector<uint8_t> data = {0xF0};
    INPUT_SOURCE src;
    memory_source(&src, data);
    EXPECT_EQ(fill_bit_buffer(&src, 16), 0);
    EXPECT_EQ(src.bit_count, 8);
    EXPECT_EQ(get_bits(&src, 4), 0xFu);
    EXPECT_EQ(peek_bits(&src, 4), 0u);
    EXPECT_EQ(get_bits(&src, 6), 0u); // only 4 were valid: dropped
    EXPECT_LT(src.bit_count, 0);
    EXPECT_EQ(fill_bit_buffer(&src, 1), 0);
    EXPECT_EQ(get_bits(&src, 16), 0u);
}

TEST(BitReader, NegativeCountSaturates) {
    std::vector<uint8_t> data = {0x00};
    INPUT_SOURCE src;
    memory_source(&src, data);
    for (int i = 0; i < 200000; ++i) (void)get_bits(&src, 16);
    EXPECT_EQ(src.bit_count, kBitCountFloor);
}

TEST(BitReader, FillKeepsMoreThan24Bits) {
    std::vector<uint8_t> data(16, 0x5A);
    INPUT_SOURCE src;
    memory_source(&src, data);
    ASSERT_EQ(fill_bit_buffer(&src, 0), 0);
    EXPECT_GE(src.bit_count, 25);
    EXPECT_LE(src.bit_count, 32);
    EXPECT_EQ(peek_bits(&src, 16), 0x5A5Au);
}

// Table with codes of length 1, 9 and 16: "0" -> 0x11, "100000000" -> 0x22,
// "1000000010000000" -> 0x33; everything starting 11 matches nothing.
HUFFMAN_DECODE_TABLE long_code_table() {
    HUFFMAN_DECODE_TABLE t{};
    uint8_t counts[16] = {};
    counts[0] = 1;
    counts[8] = 1;
    counts[15] = 1;
    const uint8_t symbols[] = {0x11, 0x22, 0x33};
    EXPECT_EQ(build_huffman_decode_table(counts, symbols, 1, 0, &t), JPEG_OK);
    return t;
}

TEST(HuffmanSymbol, ShortAndLongCodes) {
    const HUFFMAN_DECODE_TABLE t = long_code_table();
    qrl_test::BitWriter w;
    w.put(0, 1);
    w.put(0x100, 9);
    w.put(0x8080, 16);
    w.put(0x1FFFF, 17); // no code
    w.put(0, 1);
    std::vector<uint8_t> data = w.bytes();
    data.insert(data.end(), 8, 0x00); // plenty of bits after
    INPUT_SOURCE src;
    memory_source(&src, data);
    int32_t symbol = -1;
    ASSERT_EQ(decode_huffman_symbol(&src, &t, &symbol), 0);
    EXPECT_EQ(symbol, 0x11);
    ASSERT_EQ(decode_huffman_symbol(&src, &t, &symbol), 0);
    EXPECT_EQ(symbol, 0x22);
    ASSERT_EQ(decode_huffman_symbol(&src, &t, &symbol), 0);
    EXPECT_EQ(symbol, 0x33);
    ASSERT_EQ(decode_huffman_symbol(&src, &t, &symbol), 0);
    EXPECT_EQ(symbol, 0);
    // Exactly 17 bits were taken: the next code starts right after them.
    ASSERT_EQ(decode_huffman_symbol(&src, &t, &symbol), 0);
    EXPECT_EQ(symbol, 0x11);
}

TEST(HuffmanSymbol, EmptyTableConsumes17Bits) {
    HUFFMAN_DECODE_TABLE t{};
    uint8_t counts[16] = {};
    ASSERT_EQ(build_huffman_decode_table(counts, nullptr, 0, 0, &t), JPEG_OK);
    std::vector<uint8_t> data(12, 0x00);
    INPUT_SOURCE src;
    memory_source(&src, data);
    int32_t symbol = -1;
    ASSERT_EQ(decode_huffman_symbol(&src, &t, &symbol), 0);
    EXPECT_EQ(symbol, 0);
    EXPECT_EQ(8 * src.position - src.bit_count, 17);
}

TEST(HuffmanSymbol, FewBitsBeforeMarkerStillDecode) {
    // Code "0" (1 bit) sits in the last data byte before a marker; the search
    // starts at length 1 because fewer than 8 bits are left.
    const HUFFMAN_DECODE_TABLE t = long_code_table();
    std::vector<uint8_t> data = {0x7F, 0xFF, 0xD9};
    INPUT_SOURCE src;
    memory_source(&src, data);
    int32_t symbol = -1;
    ASSERT_EQ(decode_huffman_symbol(&src, &t, &symbol), 0);
    EXPECT_EQ(symbol, 0x11);
    EXPECT_EQ(src.pending_marker, 0xD9);
    EXPECT_EQ(src.bit_count, 7);
    // "1111111" then the marker: the long search runs out of bits.
    EXPECT_EQ(decode_huffman_symbol(&src, &t, &symbol), FILL_AT_MARKER);
}

TEST(HuffmanSymbol, LastByteFFReported) {
    const HUFFMAN_DECODE_TABLE t = long_code_table();
    std::vector<uint8_t> data = {0xFF};
    INPUT_SOURCE src;
    memory_source(&src, data);
    int32_t symbol = -1;
    EXPECT_EQ(decode_huffman_symbol(&src, &t, &symbol), JPEG_DATA_ERROR);
}

} // namespace
