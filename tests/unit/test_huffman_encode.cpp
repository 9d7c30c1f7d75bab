// Huffman encoding: encode tables, known blocks against the bits their codes
// give, progressive end-of-band runs, and the optimal table's properties.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dispatch/kernel_table.h"
#include "encode/default_tables.h"
#include "encode/huffman_encode.h"
#include "encode/huffman_progressive.h"
#include "encode/marker_writer.h"
#include "encode/out_stream.h"
#include "transform/zigzag.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Expected entropy-coded bytes, built bit by bit: codes and value bits, then
// 1-bit padding and byte stuffing.
struct BitString {
    std::string bits;
    void add(uint32_t value, int32_t n) {
        for (int32_t i = n - 1; i >= 0; --i) bits.push_back(((value >> i) & 1) != 0 ? '1' : '0');
    }
    void symbol(const HUFFMAN_ENCODE_TABLE &t, int32_t s) { add(t.code[s], t.code_length[s]); }
    Bytes bytes() const {
        std::string b = bits;
        while (b.size() % 8 != 0) b.push_back('1');
        Bytes out;
        for (size_t i = 0; i < b.size(); i += 8) {
            const auto v = static_cast<uint8_t>(std::stoi(b.substr(i, 8), nullptr, 2));
            out.push_back(v);
            if (v == 0xFF) out.push_back(0);
        }
        return out;
    }
};

struct Tables {
    HUFFMAN_ENCODE_TABLE dc{}, ac{};
    Tables() {
        EXPECT_EQ(qrl::build_huffman_encode_table(qrl::kDcLuminanceBits, qrl::kDcValues, &dc), JPEG_OK);
        EXPECT_EQ(qrl::build_huffman_encode_table(qrl::kAcLuminanceBits, qrl::kAcLuminanceValues, &ac), JPEG_OK);
    }
};

struct Stream {
    KERNEL_TABLE kernels = qrl::kernel_set_table(qrl::KernelSet::Portable);
    INPUT_SOURCE source{};
    Bytes buffer = Bytes(1 << 16);
    Stream() {
        source.kernel_table = &kernels;
        qrl::out_stream_open(&source, buffer.data(), static_cast<int32_t>(buffer.size()));
    }
    Bytes finish() {
        EXPECT_EQ(qrl::out_stream_finish(&source), JPEG_OK);
        return Bytes(buffer.begin(), buffer.begin() + source.position);
    }
};

TEST(HuffmanEncodeTable, CanonicalCodesOfTheLuminanceDcTable) {
    Tables t;
    EXPECT_EQ(t.dc.code_length[0], 2);
    EXPECT_EQ(t.dc.code[0], 0b00);
    EXPECT_EQ(t.dc.code_length[1], 3);
    EXPECT_EQ(t.dc.code[1], 0b010);
    EXPECT_EQ(t.dc.code_length[11], 9);
    EXPECT_EQ(t.dc.code[11], 0b111111110);
    EXPECT_EQ(t.dc.code_length[12], 0);
    EXPECT_EQ(t.ac.code_length[0x00], 4);
    EXPECT_EQ(t.ac.code[0x00], 0b1010);
    EXPECT_EQ(t.ac.code_length[0xF0], 11);
    EXPECT_EQ(t.ac.code[0xF0], 0b11111111001);
}

TEST(HuffmanEncodeTable, RefusesOverfullCounts) {
    const uint8_t counts[16] = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const uint8_t symbols[3] = {1, 2, 3};
    HUFFMAN_ENCODE_TABLE t{};
    EXPECT_EQ(qrl::build_huffman_encode_table(counts, symbols, &t), JPEG_BAD_HUFFMAN_TABLE);
}

// Known blocks: the bits must be exactly the codes the table gives.
TEST(HuffmanEncodeBlock, KnownBlocks) {
    Tables t;
    struct Case {
        const char *name;
        int16_t predictor;
        std::vector<std::pair<int, int>> coefficients; // (zig-zag position, value)
    };
    const Case cases[] = {
        {"all zero", 0, {}},
        {"dc equals predictor", 37, {{0, 37}}},
        {"negative dc", 0, {{0, -5}}},
        {"last coefficient set", 0, {{0, 3}, {63, 1}}},
        {"run of 20", 0, {{21, 5}}},
        {"run of 16 exactly", 0, {{17, -2}, {18, 1}}},
        {"large values", 100, {{0, -1000}, {1, 1023}, {2, -1023}, {40, 300}}},
    };
    for (const Case &c : cases) {
        int16_t block[64] = {};
        for (const auto &[k, v] : c.coefficients) block[qrl::zigzag_to_natural[k]] = static_cast<int16_t>(v);
        BitString want;
        const int32_t diff = block[0] - c.predictor;
        const int32_t s = qrl::bit_length(static_cast<uint32_t>(diff < 0 ? -diff : diff));
        want.symbol(t.dc, s);
        want.add(static_cast<uint32_t>(diff < 0 ? diff - 1 : diff), s);
        int32_t run = 0;
        for (int32_t k = 1; k < 64; ++k) {
            const int32_t v = block[qrl::zigzag_to_natural[k]];
            if (v == 0) { ++run; continue; }
            for (; run > 15; run -= 16) want.symbol(t.ac, 0xF0);
            const int32_t n = qrl::bit_length(static_cast<uint32_t>(v < 0 ? -v : v));
            want.symbol(t.ac, (run << 4) + n);
            want.add(static_cast<uint32_t>(v < 0 ? v - 1 : v), n);
            run = 0;
        }
        if (run > 0) want.symbol(t.ac, 0x00);

        Stream out;
        int16_t predictor = c.predictor;
        ASSERT_EQ(qrl::encode_huffman_block(&out.source, &t.dc, &t.ac, &predictor, block), JPEG_OK) << c.name;
        EXPECT_EQ(predictor, block[0]) << c.name;
        EXPECT_EQ(out.finish(), want.bytes()) << c.name;
    }
}

TEST(HuffmanEncodeBlock, SpelledOutExamples) {
    Tables t;
    // All zero: DC category 0 (00), EOB (1010), padding 11.
    {
        Stream out;
        int16_t block[64] = {};
        int16_t predictor = 0;
        ASSERT_EQ(qrl::encode_huffman_block(&out.source, &t.dc, &t.ac, &predictor, block), JPEG_OK);
        EXPECT_EQ(out.finish(), (Bytes{0x2B}));
    }
    // Twenty zeros then 1: one ZRL (11111111001), the code of run 4 size 1
    // with its value bit, then EOB.
    {
        Stream out;
        int16_t block[64] = {};
        block[qrl::zigzag_to_natural[21]] = 1;
        int16_t predictor = 0;
        ASSERT_EQ(qrl::encode_huffman_block(&out.source, &t.dc, &t.ac, &predictor, block), JPEG_OK);
        BitString want;
        want.add(0, 2);
        want.add(0b11111111001, 11);
        want.symbol(t.ac, 0x41);
        want.add(1, 1);
        want.add(0b1010, 4);
        EXPECT_EQ(out.finish(), want.bytes());
    }
}

TEST(HuffmanEncodeBlock, StopsAtAFullBuffer) {
    Tables t;
    KERNEL_TABLE kernels = qrl::kernel_set_table(qrl::KernelSet::Portable);
    INPUT_SOURCE s{};
    s.kernel_table = &kernels;
    uint8_t buffer[4] = {0x5A, 0x5A, 0x5A, 0x5A};
    qrl::out_stream_open(&s, buffer, 2);
    int16_t block[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(i * 37 % 200 - 100);
    int16_t predictor = 0;
    EXPECT_EQ(qrl::encode_huffman_block(&s, &t.dc, &t.ac, &predictor, block), JPEG_BUFFER_TOO_SMALL);
    EXPECT_EQ(buffer[2], 0x5A);
    EXPECT_EQ(buffer[3], 0x5A);
}

TEST(ProgressiveEncode, EndOfBandRunLongerThanTheLongestSymbol) {
    auto sink = std::make_unique<qrl::ProgressiveSink>();
    int32_t stats[qrl::kStatisticsSymbols] = {};
    qrl::init_sink_for_counting(sink.get(), stats);
    const int16_t zero[64] = {};
    for (int i = 0; i < 40000; ++i) qrl::encode_ac_first(sink.get(), zero, 1, 63, 0);
    qrl::emit_eob_run(sink.get());
    EXPECT_EQ(stats[0xE0], 1); // 32767 blocks, written when the count reached it
    EXPECT_EQ(stats[0xC0], 1); // the remaining 7233 blocks: floor(log2 7233) = 12
    int32_t total = 0;
    for (int32_t v : stats) total += v;
    EXPECT_EQ(total, 2);
}

TEST(ProgressiveEncode, RefinementScanCountsAndWritesThroughTheCorrectionBuffer) {
    // Refinement scans buffer correction bits; over 300 busy blocks the buffer
    // must be flushed in time and every counted symbol written (each code is
    // at least 8 bits long, so the output exceeds the symbol count in bytes).
    HUFFMAN_ENCODE_TABLE ac{};
    // A table giving every symbol a code: 256 symbols of length 8 would fill the
    // space, so use lengths 8 (255 symbols) and 9 (1 symbol).
    uint8_t counts[16] = {0, 0, 0, 0, 0, 0, 0, 255, 1, 0, 0, 0, 0, 0, 0, 0};
    uint8_t symbols[256];
    for (int i = 0; i < 256; ++i) symbols[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(qrl::build_huffman_encode_table(counts, symbols, &ac), JPEG_OK);
    std::vector<std::vector<int16_t>> blocks;
    uint32_t state = 7;
    for (int b = 0; b < 300; ++b) {
        std::vector<int16_t> block(64, 0);
        for (int k = 1; k < 64; ++k) {
            state = state * 1103515245u + 12345u;
            const int r = static_cast<int>((state >> 16) % 40);
            block[static_cast<size_t>(qrl::zigzag_to_natural[k])] = static_cast<int16_t>(r < 30 ? 0 : r - 35);
        }
        blocks.push_back(block);
    }
    int32_t counted[qrl::kStatisticsSymbols] = {};
    auto count_sink = std::make_unique<qrl::ProgressiveSink>();
    qrl::init_sink_for_counting(count_sink.get(), counted);
    for (const auto &b : blocks) qrl::encode_ac_refine(count_sink.get(), b.data(), 1, 63, 1);
    qrl::emit_eob_run(count_sink.get());

    int32_t total = 0;
    for (int32_t v : counted) total += v;
    EXPECT_GT(total, 0);
    Stream out;
    auto write_sink = std::make_unique<qrl::ProgressiveSink>();
    qrl::init_sink_for_writing(write_sink.get(), &out.source, &ac);
    for (const auto &b : blocks) qrl::encode_ac_refine(write_sink.get(), b.data(), 1, 63, 1);
    qrl::emit_eob_run(write_sink.get());
    qrl::emit_correction_bits(write_sink.get(), write_sink->correction, write_sink->correction_count);
    EXPECT_EQ(write_sink->error, JPEG_OK);
    EXPECT_LE(write_sink->correction_count, qrl::kCorrectionBufferBytes);
    EXPECT_GT(out.finish().size(), static_cast<size_t>(total));
}

// Kraft sum and the all-ones check of a table given by its counts.
void expect_valid_table(const uint8_t counts[16], int32_t n, const char *name) {
    int32_t sum = 0;
    uint32_t code = 0;
    uint32_t last_code = 0;
    int32_t last_length = 0;
    for (int32_t length = 1; length <= 16; ++length) {
        for (int32_t i = 0; i < counts[length - 1]; ++i) {
            last_code = code++;
            last_length = length;
        }
        code <<= 1;
        sum += counts[length - 1];
    }
    EXPECT_EQ(sum, n) << name;
    ASSERT_LE(code >> 1, 1u << 16) << name; // fits in 16 bits
    if (last_length > 0) {
        EXPECT_NE(last_code, (1u << last_length) - 1u) << name << ": code of only 1-bits";
    }
}

TEST(OptimalTable, OneSymbolGetsALengthOneCode) {
    int32_t stats[qrl::kStatisticsSymbols] = {};
    stats[0x42] = 1000;
    uint8_t counts[16], symbols[256];
    const int32_t n = qrl::make_optimal_huffman_table(stats, counts, symbols);
    ASSERT_EQ(n, 1);
    EXPECT_EQ(counts[0], 1);
    EXPECT_EQ(symbols[0], 0x42);
    expect_valid_table(counts, n, "one symbol");
}

TEST(OptimalTable, SkewedStatisticsStayWithinSixteenBits) {
    struct Case {
        const char *name;
        int32_t symbols;
        bool fibonacci;
    };
    const Case cases[] = {{"fibonacci 30", 30, true}, {"fibonacci 45", 45, true}, {"flat 256", 256, false},
                          {"two", 2, false}};
    for (const Case &c : cases) {
        int32_t stats[qrl::kStatisticsSymbols] = {};
        int64_t a = 1, b = 1;
        for (int32_t i = 0; i < c.symbols; ++i) {
            stats[i] = c.fibonacci ? static_cast<int32_t>(a > 40000000 ? 40000000 + i : a) : 10 + i;
            const int64_t next = a + b > 1000000000 ? 1000000000 : a + b; // no overflow
            a = b;
            b = next;
        }
        uint8_t counts[16], symbols[256];
        const int32_t n = qrl::make_optimal_huffman_table(stats, counts, symbols);
        EXPECT_EQ(n, c.symbols) << c.name;
        expect_valid_table(counts, n, c.name);
        HUFFMAN_ENCODE_TABLE t{};
        EXPECT_EQ(qrl::build_huffman_encode_table(counts, symbols, &t), JPEG_OK) << c.name;
        for (int32_t s = 0; s < c.symbols; ++s) {
            EXPECT_GT(t.code_length[s], 0) << c.name << " symbol " << s;
            EXPECT_LE(t.code_length[s], 16) << c.name;
        }
    }
}

#if defined(__x86_64__) || defined(__i386__)
// The SIMD sets' block encoder writes the portable encoder's bytes, with its
// own accumulator convention, for blocks of every density, across restart
// markers and up to a full buffer.
TEST(HuffmanEncodeBlock, WideEncoderMatchesThePortableOne) {
    Tables t;
    uint32_t state = 99;
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (const int density : {0, 2, 10, 40, 64}) {
        Stream narrow;
        Stream wide;
        wide.kernels.out_stream_open = &qrl::out_stream_open_wide;
        wide.kernels.out_stream_write = &qrl::out_stream_write_wide;
        qrl::out_stream_open_wide(&wide.source, wide.buffer.data(), static_cast<int32_t>(wide.buffer.size()));
        int16_t pn = 0, pw = 0;
        for (int b = 0; b < 40; ++b) {
            int16_t block[64] = {};
            for (int k = 0; k < 64; ++k)
                if (static_cast<int>(next() % 64) < density)
                    block[k] = static_cast<int16_t>(static_cast<int>(next() % 2047) - 1023);
            if (b == 7) block[0] = -2047;
            if (b == 11) {
                block[5] = -32768; // raised to -32767: size category 15
                block[63] = 32767;
            }
            if (b == 13) block[0] = -32768; // a DC difference of 16 bits
            ASSERT_EQ(qrl::encode_huffman_block(&narrow.source, &t.dc, &t.ac, &pn, block), JPEG_OK);
            ASSERT_EQ(qrl::encode_huffman_block_sse2(&wide.source, &t.dc, &t.ac, &pw, block), JPEG_OK);
            if (b % 9 == 8) {
                ASSERT_EQ(qrl::write_rst(&narrow.source, 0), JPEG_OK);
                ASSERT_EQ(qrl::write_rst(&wide.source, 0), JPEG_OK);
            }
        }
        EXPECT_EQ(wide.finish(), narrow.finish()) << "density " << density;
    }
}

TEST(HuffmanEncodeBlock, WideEncoderStopsAtAFullBuffer) {
    Tables t;
    KERNEL_TABLE kernels = qrl::kernel_set_table(qrl::KernelSet::Portable);
    kernels.out_stream_open = &qrl::out_stream_open_wide;
    kernels.out_stream_write = &qrl::out_stream_write_wide;
    INPUT_SOURCE s{};
    s.kernel_table = &kernels;
    Bytes buffer(64, 0x5A);
    qrl::out_stream_open_wide(&s, buffer.data(), 20);
    int16_t block[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(i * 37 % 200 - 100);
    int16_t predictor = 0;
    int32_t r = JPEG_OK;
    for (int b = 0; b < 10 && r == JPEG_OK; ++b) r = qrl::encode_huffman_block_sse2(&s, &t.dc, &t.ac, &predictor, block);
    EXPECT_EQ(r, JPEG_BUFFER_TOO_SMALL);
    for (size_t i = 20; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0x5A) << i;
}
#endif

} // namespace
