// Portable block decoders: coefficient placement, DC prediction and wrap,
// corrupt runs, markers and the end of the data.
#include <array>
#include <vector>

#include <gtest/gtest.h>

#include "decode/bit_reader.h"
#include "decode/block_decode.h"
#include "entropy_test_util.h"
#include "transform/zigzag.h"

namespace {

using namespace qrl;
using namespace qrl_test;
using DecodeBlockFnPtr = int32_t (*)(INPUT_SOURCE *, const HUFFMAN_DECODE_TABLE *, const HUFFMAN_DECODE_TABLE *,
                                     int16_t *, int16_t *);

// A block with sentinels on both sides, to catch writes outside it.
struct GuardedBlock {
    std::array<int16_t, 8> before;
    std::array<int16_t, 64> c;
    std::array<int16_t, 8> after;
    GuardedBlock() {
        before.fill(0x5555);
        after.fill(0x5555);
        c.fill(0x1234);
    }
    bool guards_intact() const {
        for (int16_t v : before)
            if (v != 0x5555) return false;
        for (int16_t v : after)
            if (v != 0x5555) return false;
        return true;
    }
};

class BlockDecode : public ::testing::Test {
protected:
    HUFFMAN_DECODE_TABLE dc = dc_table4();
    HUFFMAN_DECODE_TABLE ac = ac_table8();
    INPUT_SOURCE src{};
    std::vector<uint8_t> data;
    void start(BitWriter &w, size_t trailing_zeros = 0) {
        data = w.bytes();
        data.insert(data.end(), trailing_zeros, 0x00);
        memory_source(&src, data);
    }
};

TEST_F(BlockDecode, PlacesCoefficientsInNaturalOrder) {
    BitWriter w;
    put_dc(w, -5);
    put_ac(w, 0, 3);  // zig-zag 1
    put_ac(w, 2, -1); // zig-zag 4
    put_ac(w, 0, 700); // category 10, zig-zag 5
    put_eob(w);
    put_dc(w, 2); // second block
    put_eob(w);
    start(w);
    GuardedBlock b;
    int16_t pred = 10;
    ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), 0);
    EXPECT_EQ(pred, 5);
    std::array<int16_t, 64> want{};
    want[0] = 5;
    want[zigzag_to_natural[1]] = 3;
    want[zigzag_to_natural[4]] = -1;
    want[zigzag_to_natural[5]] = 700;
    EXPECT_EQ(b.c, want);
    ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), 0);
    EXPECT_EQ(pred, 7);
    want = {};
    want[0] = 7;
    EXPECT_EQ(b.c, want);
    EXPECT_TRUE(b.guards_intact());
}

TEST_F(BlockDecode, DcPredictorWrapsTo16Bits) {
    BitWriter w;
    put_dc(w, 2047);
    put_eob(w);
    start(w);
    GuardedBlock b;
    int16_t pred = 32000;
    ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), 0);
    EXPECT_EQ(pred, static_cast<int16_t>(32000 + 2047));
    EXPECT_EQ(b.c[0], pred);
}

TEST_F(BlockDecode, CorruptRunLandsOnCoefficient63) {
    BitWriter w;
    put_dc(w, 0);
    put_ac(w, 15, 0); // ZRL: position 17
    w.put(ac_code(0xF0), 8);
    w.put(ac_code(0xF0), 8); // position 49
    put_ac(w, 15, 1);         // run 15 from 49: position 64 -> guard entry
    put_dc(w, 1);             // next block starts right after
    put_eob(w);
    start(w);
    GuardedBlock b;
    int16_t pred = 0;
    ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), 0);
    EXPECT_EQ(b.c[63], 1);
    EXPECT_TRUE(b.guards_intact());
    ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), 0);
    EXPECT_EQ(b.c[0], 1); // the block ended where the run passed 63
}

TEST_F(BlockDecode, LongRunsNeverLeaveTheBlock) {
    // 15-zero runs with 15-bit values, repeated past the end of every block.
    BitWriter w;
    for (int i = 0; i < 40; ++i) {
        put_dc(w, 1);
        for (int j = 0; j < 6; ++j) put_ac(w, 15, 1);
    }
    start(w);
    for (int i = 0; i < 40; ++i) {
        GuardedBlock b;
        int16_t pred = 0;
        ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), 0);
        ASSERT_TRUE(b.guards_intact());
    }
}

TEST_F(BlockDecode, MarkerMidBlockKeepsDecodedPart) {
    BitWriter w;
    put_dc(w, 4);
    put_ac(w, 0, 2);
    w.put(ac_code(0x01), 8); // symbol, but its value bit is cut off by the marker
    w.raw({0xFF, 0xD0});
    start(w);
    GuardedBlock b;
    int16_t pred = 0;
    ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), 0);
    EXPECT_EQ(src.pending_marker, 0xD0);
    std::array<int16_t, 64> want{};
    want[0] = 4;
    want[1] = 2;
    // The padding bits (1s) after the last symbol read as its value bit.
    want[zigzag_to_natural[2]] = b.c[zigzag_to_natural[2]];
    EXPECT_EQ(b.c, want);
    // Following blocks decode as all zero and leave the predictor alone.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), 0);
        EXPECT_EQ(b.c, (std::array<int16_t, 64>{}));
        EXPECT_EQ(pred, 4);
    }
    EXPECT_EQ(src.pending_marker, 0xD0);
}

TEST_F(BlockDecode, EndOfMemoryDecodesZeroBits) {
    BitWriter w;
    put_dc(w, 3);
    put_eob(w);
    start(w);
    GuardedBlock b;
    int16_t pred = 0;
    ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), 0);
    // Past the end every bit is 0: DC code 0000 (category 0) and AC code
    // 00000000 (end of block), so blocks are constant at the predictor.
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), 0);
        std::array<int16_t, 64> want{};
        want[0] = 3;
        EXPECT_EQ(b.c, want);
    }
}

TEST_F(BlockDecode, LastByteFFIsDataError) {
    std::vector<uint8_t> bytes = {0x3F, 0xFF};
    data = bytes;
    memory_source(&src, data);
    GuardedBlock b;
    int16_t pred = 0;
    EXPECT_EQ(decode_huffman_block(&src, &dc, &ac, &pred, b.c.data()), JPEG_DATA_ERROR);
}

TEST_F(BlockDecode, DcOnlyKeepsPredictorAndAcUntouched) {
    BitWriter w;
    for (int i = 0; i < 2; ++i) {
        put_dc(w, 6);
        put_ac(w, 0, 3);
        put_ac(w, 3, -1);
        put_ac(w, 0, -700); // category 10
        put_eob(w);
    }
    start(w);
    // Full decode for reference.
    GuardedBlock full;
    int16_t pred_full = 1;
    ASSERT_EQ(decode_huffman_block(&src, &dc, &ac, &pred_full, full.c.data()), 0);
    GuardedBlock dc_only;
    int16_t pred_dc = 1;
    memory_source(&src, data);
    ASSERT_EQ(decode_huffman_dc_only(&src, &dc, &ac, &pred_dc, dc_only.c.data()), 0);
    EXPECT_EQ(pred_dc, pred_full);
    EXPECT_EQ(dc_only.c[0], full.c[0]);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(dc_only.c[i], 0x1234) << i;
    // The second block is reached at the same bit position.
    ASSERT_EQ(decode_huffman_dc_only(&src, &dc, &ac, &pred_dc, dc_only.c.data()), 0);
    EXPECT_EQ(pred_dc, 13);
}

TEST_F(BlockDecode, UndefinedTableGivesConstantBlocks) {
    HUFFMAN_DECODE_TABLE zero{};
    uint8_t counts[16] = {};
    ASSERT_EQ(build_huffman_decode_table(counts, nullptr, 0, 0, &zero), JPEG_OK);
    std::vector<uint8_t> bytes(64, 0xA5);
    data = bytes;
    memory_source(&src, data);
    GuardedBlock b;
    int16_t pred = 9;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(decode_huffman_block(&src, &zero, &zero, &pred, b.c.data()), 0);
        std::array<int16_t, 64> want{};
        want[0] = 9;
        EXPECT_EQ(b.c, want);
    }
}


// ---- SIMD-set block decoders ---------------------------------------------------

#if defined(__x86_64__) || defined(__i386__)
struct Kernel {
    const char *name;
    DecodeBlockFnPtr fn;
};

const Kernel kSimdBlockKernels[] = {
    {"bytewise", decode_huffman_block_sse2},
    {"wide", decode_huffman_block_wide_sse2},
};

// Random well-formed blocks: DC differences and AC runs/values drawn from the
// test tables' symbols, with enough 0xFF data bytes to exercise stuffing.
std::vector<uint8_t> random_blocks(int count, uint32_t seed) {
    BitWriter w;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int b = 0; b < count; ++b) {
        const int dc_cat = static_cast<int>(next() % 12);
        int diff = dc_cat == 0 ? 0 : static_cast<int>((1 << (dc_cat - 1)) + next() % (1u << (dc_cat - 1)));
        if (next() & 1) diff = -diff;
        put_dc(w, diff);
        int k = 1;
        while (k < 64) {
            const uint32_t pick = next() % 10;
            if (pick == 0) break; // EOB
            if (pick == 1 && k + 16 <= 63) {
                w.put(ac_code(0xF0), 8);
                k += 16;
                continue;
            }
            static const int kRunCat[][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 1}, {2, 1}, {3, 1}, {0, 10}, {4, 1}};
            const auto &rc = kRunCat[next() % 8];
            if (k + rc[0] > 63) break;
            int v = (1 << (rc[1] - 1)) + static_cast<int>(next() % (1u << (rc[1] - 1)));
            if (next() & 1) v = -v;
            put_ac(w, rc[0], v);
            k += rc[0] + 1;
        }
        if (k < 64) put_eob(w);
        if (b % 7 == 3) w.put(0xFF, 8); // a literal 0xFF data byte where it aligns
        if (b % 7 == 3) w.put(0x1F, 5);
    }
    return w.bytes();
}

TEST_F(BlockDecode, SimdKernelsMatchPortableOnWellFormedData) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        // 200 blocks, then an end marker as in a real scan.
        std::vector<uint8_t> stream = random_blocks(200, seed);
        stream.push_back(0xFF);
        stream.push_back(0xD9);
        // The odd blocks re-read bit fields only well-formed data can have;
        // decode the portable reference first.
        std::vector<std::array<int16_t, 64>> want(200);
        std::vector<int16_t> want_pred(200);
        INPUT_SOURCE ref{};
        memory_source(&ref, stream);
        int16_t pred = 0;
        for (int b = 0; b < 200; ++b) {
            ASSERT_EQ(decode_huffman_block(&ref, &dc, &ac, &pred, want[b].data()), 0);
            want_pred[b] = pred;
        }
        for (const Kernel &k : kSimdBlockKernels) {
            INPUT_SOURCE s{};
            memory_source(&s, stream);
            int16_t p = 0;
            for (int b = 0; b < 200; ++b) {
                std::array<int16_t, 64> got;
                got.fill(0x3333);
                ASSERT_EQ(k.fn(&s, &dc, &ac, &p, got.data()), 0) << k.name;
                ASSERT_EQ(got, want[b]) << k.name << " block " << b << " seed " << seed;
                ASSERT_EQ(p, want_pred[b]) << k.name;
            }
            // Never a byte past the end marker.
            EXPECT_LE(s.cur, stream.data() + stream.size()) << k.name;
        }
        // DC-only: same predictors, AC left alone.
        INPUT_SOURCE s{};
        memory_source(&s, stream);
        int16_t p = 0;
        for (int b = 0; b < 200; ++b) {
            std::array<int16_t, 64> got;
            got.fill(0x3333);
            ASSERT_EQ(decode_huffman_dc_only_sse2(&s, &dc, &ac, &p, got.data()), 0);
            ASSERT_EQ(p, want_pred[b]);
            ASSERT_EQ(got[0], want[b][0]);
            ASSERT_EQ(got[63], 0x3333);
        }
    }
}

TEST_F(BlockDecode, SimdKernelsDecodeZeroBitsPastAMarker) {
    for (const Kernel &k : kSimdBlockKernels) {
        BitWriter w;
        put_dc(w, 4);
        put_ac(w, 0, 2);
        w.raw({0xFF, 0xD2});
        start(w);
        GuardedBlock b;
        int16_t pred = 0;
        ASSERT_EQ(k.fn(&src, &dc, &ac, &pred, b.c.data()), 0);
        EXPECT_EQ(src.pending_marker, 0xD2);
        EXPECT_EQ(b.c[0], 4);
        EXPECT_EQ(b.c[1], 2);
        // Later blocks read 0-bits: DC category 0 (the predictor) and end of
        // block, unlike the portable kernel's all-zero blocks.
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(k.fn(&src, &dc, &ac, &pred, b.c.data()), 0);
            std::array<int16_t, 64> want{};
            want[0] = 4;
            EXPECT_EQ(b.c, want) << k.name;
        }
        EXPECT_EQ(src.pending_marker, 0xD2);
        EXPECT_EQ(src.cur, data.data() + data.size()); // nothing read past the marker
        EXPECT_TRUE(b.guards_intact());
    }
}

TEST_F(BlockDecode, SimdKernelsEndQuietlyAtTheEndOfData) {
    for (const Kernel &k : kSimdBlockKernels) {
        BitWriter w;
        put_dc(w, 3);
        put_eob(w);
        start(w);
        GuardedBlock b;
        int16_t pred = 0;
        ASSERT_EQ(k.fn(&src, &dc, &ac, &pred, b.c.data()), 0);
        EXPECT_EQ(pred, 3);
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(k.fn(&src, &dc, &ac, &pred, b.c.data()), 0);
            EXPECT_EQ(b.c, (std::array<int16_t, 64>{})) << k.name;
            EXPECT_EQ(pred, 3);
        }
        // A 0xFF as the last byte is no error either.
        std::vector<uint8_t> ff = {0x3F, 0xFF};
        data = ff;
        memory_source(&src, data);
        EXPECT_EQ(k.fn(&src, &dc, &ac, &pred, b.c.data()), 0) << k.name;
    }
}
#endif

} // namespace
