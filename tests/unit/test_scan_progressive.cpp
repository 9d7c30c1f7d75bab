// Progressive scans: the four block steps on hand-made bit streams, and whole
// progressive files decoded through codec_read against libjpeg-turbo, against
// the sequential file with the same coefficients, interrupted, by region and
// damaged.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decode/bit_reader.h"
#include "decode/progressive_blocks.h"
#include "decode/scan_loops.h"
#include "decode_test_util.h"
#include "entropy_test_util.h"
#include "support/oracle.h"
#include "transform/zigzag.h"

namespace qrl_test {
namespace {

using qrl::decode_ac_first;
using qrl::decode_ac_refine;
using qrl::decode_dc_first;
using qrl::decode_dc_refine;

using Block = std::array<int16_t, 64>;

// ---- Block steps -------------------------------------------------------------

struct StepFixture : ::testing::Test {
    HUFFMAN_DECODE_TABLE dc = dc_table4();
    HUFFMAN_DECODE_TABLE ac = ac_table8();
    INPUT_SOURCE src{};
    std::vector<uint8_t> data;
    void start(BitWriter &w) {
        data = w.bytes();
        memory_source(&src, data);
    }
};

TEST_F(StepFixture, DcFirstThenRefine) {
    // Differences 5 and -3 at Al = 1, then refinement bits 1 and 0.
    BitWriter w;
    put_dc(w, 5);
    put_dc(w, -3);
    w.put(1, 1);
    w.put(0, 1);
    start(w);
    Block b0{}, b1{};
    int16_t pred = 0;
    ASSERT_EQ(decode_dc_first(&src, &dc, b0.data(), &pred, 1), 0);
    ASSERT_EQ(decode_dc_first(&src, &dc, b1.data(), &pred, 1), 0);
    EXPECT_EQ(pred, 2); // the predictor holds the value before the shift
    EXPECT_EQ(b0[0], 10);
    EXPECT_EQ(b1[0], 4);
    ASSERT_EQ(decode_dc_refine(&src, b0.data(), 0), 0);
    ASSERT_EQ(decode_dc_refine(&src, b1.data(), 0), 0);
    EXPECT_EQ(b0[0], 11);
    EXPECT_EQ(b1[0], 4);
}

TEST_F(StepFixture, AcFirstBandAndEobRuns) {
    BitWriter w;
    // Block 0: band 1..5 at Al = 2: value -1 at position 2, then EOB (r = 0).
    put_ac(w, 1, -1);
    put_eob(w);
    // Block 1: EOB run of 2 + 1 extra bit = 3 blocks (symbol 0x10 is r = 1).
    w.put(ac_code(0x10), 8);
    w.put(1, 1);
    // Block 4: value 3 at position 1.
    put_ac(w, 0, 3);
    put_eob(w);
    start(w);
    Block b{};
    b.fill(0);
    ASSERT_EQ(decode_ac_first(&src, b.data(), &ac, 1, 5, 2), 0);
    Block want{};
    want[qrl::zigzag_to_natural[2]] = -4;
    EXPECT_EQ(b, want);
    EXPECT_EQ(src.eob_run, 0); // r = 0 is a plain end of band
    for (int i = 1; i <= 3; ++i) {
        Block untouched;
        untouched.fill(7);
        ASSERT_EQ(decode_ac_first(&src, untouched.data(), &ac, 1, 5, 2), 0);
        Block seven;
        seven.fill(7);
        EXPECT_EQ(untouched, seven) << "block " << i;
        EXPECT_EQ(src.eob_run, 3 - i);
    }
    Block b4{};
    ASSERT_EQ(decode_ac_first(&src, b4.data(), &ac, 1, 5, 2), 0);
    EXPECT_EQ(b4[qrl::zigzag_to_natural[1]], 12);
}

TEST_F(StepFixture, AcRefineCorrectionBits) {
    // Band 1..3 at Al = 0 over a block holding -2 (position 1), 3 (position
    // 2, its P1 bit already set) and 0 (position 3). Symbol: one new
    // coefficient (r = 0, s = 1) with sign bit 1, placed at the first zero
    // position after the nonzero ones, each of which reads a correction bit.
    BitWriter w;
    w.put(ac_code(0x01), 8);
    w.put(1, 1); // sign: positive
    w.put(1, 1); // correction for -2: becomes -3
    w.put(1, 1); // correction for 3: P1 already set, unchanged
    put_eob(w);
    start(w);
    Block b{};
    b[qrl::zigzag_to_natural[1]] = -2;
    b[qrl::zigzag_to_natural[2]] = 3;
    ASSERT_EQ(decode_ac_refine(&src, b.data(), &ac, 1, 3, 0), 0);
    EXPECT_EQ(b[qrl::zigzag_to_natural[1]], -3);
    EXPECT_EQ(b[qrl::zigzag_to_natural[2]], 3);
    EXPECT_EQ(b[qrl::zigzag_to_natural[3]], 1);
}

TEST_F(StepFixture, AcRefineInsideEobRunCorrectsOnlyNonzero) {
    BitWriter w;
    w.put(ac_code(0x10), 8); // EOB run 2 + bit
    w.put(0, 1);             // run of 2 blocks
    w.put(1, 1);             // block 0: correction for 2 (Al = 0): 3
    w.put(1, 1);             // block 1: correction for -4: -5
    start(w);
    Block b0{}, b1{};
    b0[qrl::zigzag_to_natural[5]] = 2;
    b1[qrl::zigzag_to_natural[9]] = -4;
    ASSERT_EQ(decode_ac_refine(&src, b0.data(), &ac, 1, 63, 0), 0);
    EXPECT_EQ(src.eob_run, 1);
    ASSERT_EQ(decode_ac_refine(&src, b1.data(), &ac, 1, 63, 0), 0);
    EXPECT_EQ(src.eob_run, 0);
    EXPECT_EQ(b0[qrl::zigzag_to_natural[5]], 3);
    EXPECT_EQ(b1[qrl::zigzag_to_natural[9]], -5);
}

TEST_F(StepFixture, CorruptRunsStayInTheBlock) {
    // Long runs with values in AC first and refinement scans never leave the
    // block, whatever the band.
    BitWriter w;
    for (int i = 0; i < 64; ++i) put_ac(w, 15, 1);
    start(w);
    struct Guarded {
        std::array<int16_t, 8> before{};
        Block b{};
        std::array<int16_t, 8> after{};
    } g;
    for (int round = 0; round < 6; ++round) {
        ASSERT_EQ(decode_ac_first(&src, g.b.data(), &ac, 1 + round * 10, 63, 0), 0);
        ASSERT_EQ(decode_ac_refine(&src, g.b.data(), &ac, 60, 63, 0), 0);
    }
    EXPECT_EQ(g.before, (std::array<int16_t, 8>{}));
    EXPECT_EQ(g.after, (std::array<int16_t, 8>{}));
}

// ---- Whole files -------------------------------------------------------------

struct ProgressiveCase {
    const char *name;
    JpegLayout layout;
    int h0, v0;
    int width, height;
    int restart_interval;
};

std::vector<uint8_t> make_file(const ProgressiveCase &c, bool progressive, bool scan_per_component = false) {
    LibjpegEncodeOptions o;
    o.width = c.width;
    o.height = c.height;
    o.layout = c.layout;
    o.restart_interval = c.restart_interval;
    o.progressive = progressive;
    o.scan_per_component = scan_per_component;
    if (c.layout != JpegLayout::gray) {
        o.h_samp[0] = c.h0;
        o.v_samp[0] = c.v0;
        o.h_samp[1] = o.v_samp[1] = o.h_samp[2] = o.v_samp[2] = 1;
    }
    return libjpeg_encode(o);
}

DecodeRequest request_for(const ProgressiveCase &c) {
    DecodeRequest q;
    const bool gray = c.layout == JpegLayout::gray;
    q.image_color = gray ? COLOR_GRAY : COLOR_RGB;
    q.channels = gray ? 1 : 3;
    return q;
}

class ProgressiveFile : public ::testing::TestWithParam<ProgressiveCase> {};

TEST_P(ProgressiveFile, MatchesReferenceAndSequentialTwin) {
    const ProgressiveCase &c = GetParam();
    std::vector<uint8_t> prog = make_file(c, true);
    std::vector<uint8_t> seq = make_file(c, false);
    ASSERT_FALSE(prog.empty());
    ASSERT_FALSE(seq.empty());
    const DecodeRequest q = request_for(c);
    DecodedImage ref = tj_decode(prog, q.channels == 1 ? TJPF_GRAY : TJPF_RGB, kTjAccurate);
    ASSERT_TRUE(ref.ok()) << ref.error;
    for (bool file : {false, true}) {
        DecodeRequest fq = q;
        fq.file = file;
        DecodeResult d = decode(prog, fq);
        ASSERT_EQ(d.result, JPEG_OK) << (file ? "file" : "memory");
        EXPECT_TRUE(images_close(std::string("prog_") + c.name + (file ? "_file" : "_mem"), d.pixels.data(), 0,
                                 ref.pixels.data(), 0, d.width, d.height, q.channels, Limits{4, 0.5}));
        // The same coefficients sent sequentially give the same pixels.
        DecodeResult s = decode(seq, fq);
        ASSERT_EQ(s.result, JPEG_OK);
        EXPECT_EQ(d.pixels, s.pixels) << (file ? "file" : "memory");
    }
}

TEST_P(ProgressiveFile, InterruptedEqualsOneCall) {
    const ProgressiveCase &c = GetParam();
    std::vector<uint8_t> prog = make_file(c, true);
    ASSERT_FALSE(prog.empty());
    DecodeRequest q = request_for(c);
    DecodeResult once = decode(prog, q);
    ASSERT_EQ(once.result, JPEG_OK);
    q.interrupt_every_mcu = true;
    DecodeResult pieces = decode(prog, q);
    ASSERT_EQ(pieces.result, JPEG_OK);
    EXPECT_GT(pieces.interrupts, 0);
    EXPECT_EQ(pieces.pixels, once.pixels);
}

TEST_P(ProgressiveFile, RegionsEqualCrops) {
    const ProgressiveCase &c = GetParam();
    std::vector<uint8_t> prog = make_file(c, true);
    ASSERT_FALSE(prog.empty());
    const DecodeRequest q = request_for(c);
    DecodeResult whole = decode(prog, q);
    ASSERT_EQ(whole.result, JPEG_OK);
    const int w = c.width, h = c.height;
    const int rects[][4] = {{0, 0, 1, 1}, {w - 1, h - 1, w, h}, {3, 5, std::min(21, w), std::min(30, h)}, {17, 9, w, h}, {0, 0, w, 7},
                            {w / 2, 0, w / 2 + 1, h}};
    for (bool file : {false, true}) {
        for (const auto &r : rects) {
            DecodeRequest rq = q;
            rq.file = file;
            for (int i = 0; i < 4; ++i) rq.roi[i] = r[i];
            DecodeResult d = decode(prog, rq);
            ASSERT_EQ(d.result, JPEG_ROI_OK) << r[0] << "," << r[1] << "," << r[2] << "," << r[3];
            EXPECT_EQ(d.pixels, crop(whole.pixels, w, q.channels, r[0], r[1], r[2], r[3]))
                << r[0] << "," << r[1] << "," << r[2] << "," << r[3] << (file ? " file" : " memory");
            rq.interrupt_every_mcu = true;
            DecodeResult pieces = decode(prog, rq);
            ASSERT_EQ(pieces.result, JPEG_ROI_OK);
            EXPECT_EQ(pieces.pixels, d.pixels) << "interrupted " << r[0] << "," << r[1] << (file ? " file" : " memory");
        }
    }
}

TEST_P(ProgressiveFile, RepeatedRegionsOnOneRecord) {
    // A region decode leaves its completed scan pending; later regions and a
    // whole decode on the same record output from the coefficient buffer.
    const ProgressiveCase &c = GetParam();
    std::vector<uint8_t> prog = make_file(c, true);
    ASSERT_FALSE(prog.empty());
    const DecodeRequest q = request_for(c);
    DecodeResult whole = decode(prog, q);
    ASSERT_EQ(whole.result, JPEG_OK);
    const int w = c.width, h = c.height;
    const int rects[][4] = {{w - 3, 1, w, 4}, {1, 2, w / 2, h - 1}, {0, 0, w, h / 3}, {2, h - 5, w - 1, h}};
    for (bool file : {false, true}) {
        Record rec = make_record();
        TempJpeg temp(prog);
        std::vector<uint8_t> data = prog;
        bool first = true;
        for (const auto &r : rects) {
            DecodeRequest rq = q;
            rq.file = file;
            for (int i = 0; i < 4; ++i) rq.roi[i] = r[i];
            DecodeResult d = decode_with(rec.get(), data, rq, temp.path().c_str(), first);
            first = false;
            ASSERT_EQ(d.result, JPEG_ROI_OK);
            EXPECT_EQ(d.pixels, crop(whole.pixels, w, q.channels, r[0], r[1], r[2], r[3]))
                << r[0] << "," << r[1] << "," << r[2] << "," << r[3] << (file ? " file" : " memory");
        }
        DecodeResult again = decode_with(rec.get(), data, q, temp.path().c_str(), false);
        ASSERT_EQ(again.result, JPEG_OK);
        EXPECT_EQ(again.pixels, whole.pixels) << (file ? "file" : "memory");
    }
}

TEST_P(ProgressiveFile, DamagedDataNeverCrashes) {
    const ProgressiveCase &c = GetParam();
    std::vector<uint8_t> prog = make_file(c, true);
    ASSERT_FALSE(prog.empty());
    const DecodeRequest q = request_for(c);
    uint32_t seed = 777;
    for (int round = 0; round < 150; ++round) {
        std::vector<uint8_t> bad = prog;
        for (int k = 0; k < 1 + round % 6; ++k) {
            seed = seed * 1664525u + 1013904223u;
            const size_t at = 200 + (seed >> 8) % (bad.size() - 202);
            bad[at] = static_cast<uint8_t>(seed >> 24);
        }
        EXPECT_LE(decode(bad, q).result, JPEG_OK);
    }
    for (size_t n = 100; n < prog.size(); n += 7) {
        std::vector<uint8_t> cut(prog.begin(), prog.begin() + n);
        EXPECT_LE(decode(cut, q).result, JPEG_OK) << n;
    }
}

const ProgressiveCase kProgressive[] = {
    {"s420", JpegLayout::ycbcr, 2, 2, 75, 51, 0},
    {"s422", JpegLayout::ycbcr, 2, 1, 64, 40, 0},
    {"s444", JpegLayout::ycbcr, 1, 1, 37, 29, 0},
    {"gray", JpegLayout::gray, 1, 1, 53, 47, 0},
    {"s420_restart2", JpegLayout::ycbcr, 2, 2, 70, 50, 2},
    {"gray_restart1", JpegLayout::gray, 1, 1, 30, 20, 1},
};

INSTANTIATE_TEST_SUITE_P(Scan, ProgressiveFile, ::testing::ValuesIn(kProgressive),
                         [](const ::testing::TestParamInfo<ProgressiveCase> &p) { return std::string(p.param.name); });

// Positions of the SOS segments' scan fields (Ss, Se, Ah/Al) in a stream.
std::vector<size_t> scan_headers(const std::vector<uint8_t> &jpeg) {
    std::vector<size_t> at;
    for (size_t i = 2; i + 4 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
            const size_t ns = jpeg[i + 4];
            at.push_back(i + 5 + 2 * ns); // Ss
        }
    }
    return at;
}

TEST(ProgressiveBands, OutOfRangeFieldsAreRefused) {
    std::vector<uint8_t> prog = make_file({"", JpegLayout::ycbcr, 2, 2, 40, 32, 0}, true);
    ASSERT_FALSE(prog.empty());
    const std::vector<size_t> headers = scan_headers(prog);
    ASSERT_GT(headers.size(), 4u);
    const DecodeRequest q = request_for({"", JpegLayout::ycbcr, 2, 2, 40, 32, 0});
    struct Edit {
        const char *what;
        int field; // 0 Ss, 1 Se, 2 Ah/Al
        uint8_t value;
    };
    const Edit edits[] = {{"Se past 63", 1, 70}, {"Ss above Se", 0, 64}, {"Al above 13", 2, 0x0E},
                          {"Ah not Al + 1", 2, 0x30}};
    for (size_t s = 1; s < headers.size(); ++s) {
        for (const Edit &e : edits) {
            std::vector<uint8_t> bad = prog;
            bad[headers[s] + e.field] = e.value;
            const int32_t r = decode(bad, q).result;
            EXPECT_LT(r, 0) << e.what << " in scan " << s;
        }
    }
}


TEST(CoefficientImage, OutputsWhatTheBufferHolds) {
    // After a whole progressive decode the buffer holds every coefficient:
    // writing it out again gives the same pixels.
    for (const ProgressiveCase &c : {ProgressiveCase{"", JpegLayout::ycbcr, 2, 2, 45, 33, 0},
                                     ProgressiveCase{"", JpegLayout::gray, 1, 1, 20, 17, 0}}) {
        std::vector<uint8_t> prog = make_file(c, true);
        ASSERT_FALSE(prog.empty());
        const DecodeRequest q = request_for(c);
        Record rec = make_record();
        DecodeResult d = decode_with(rec.get(), prog, q);
        ASSERT_EQ(d.result, JPEG_OK);
        const std::vector<uint8_t> first = d.pixels;
        std::fill(d.pixels.begin(), d.pixels.end(), 0);
        rec->props.image_pixels = d.pixels.data();
        ASSERT_EQ(qrl::output_coefficient_image(&rec->props.input, &rec->props, 1), JPEG_OK);
        EXPECT_EQ(d.pixels, first);
    }
}

TEST(CoefficientImage, StreamCutAfterTheDcScans) {
    // Only the DC scan and EOI: the counters never complete, so the scans
    // output nothing; the buffer's DC image can still be written out.
    const ProgressiveCase c{"", JpegLayout::ycbcr, 2, 2, 48, 32, 0};
    std::vector<uint8_t> prog = make_file(c, true);
    ASSERT_FALSE(prog.empty());
    std::vector<size_t> sos = scan_headers(prog);
    ASSERT_GT(sos.size(), 1u);
    // Cut at the first table or scan segment after the first scan.
    size_t second = 0;
    for (size_t i = sos[0]; i + 1 < prog.size(); ++i) {
        if (prog[i] == 0xFF && (prog[i + 1] == 0xDA || prog[i + 1] == 0xC4)) {
            second = i;
            break;
        }
    }
    ASSERT_GT(second, 0u);
    std::vector<uint8_t> cut(prog.begin(), prog.begin() + second);
    cut.push_back(0xFF);
    cut.push_back(0xD9);
    Record rec = make_record();
    DecodeResult d = decode_with(rec.get(), cut, request_for(c));
    ASSERT_EQ(d.result, JPEG_OK);
    rec->props.image_pixels = d.pixels.data();
    ASSERT_EQ(qrl::output_coefficient_image(&rec->props.input, &rec->props, 1), JPEG_OK);
    // Each 8x8 luma block is flat (DC only) and the picture is not blank.
    DecodeResult full = decode(prog, request_for(c));
    double diff = 0;
    for (size_t i = 0; i < d.pixels.size(); ++i) diff += std::abs(int(d.pixels[i]) - int(full.pixels[i]));
    EXPECT_LT(diff / d.pixels.size(), 40.0);
}

TEST(MultiScanSequential, ScanPerComponentMatchesReference) {
    for (const ProgressiveCase &c : {ProgressiveCase{"", JpegLayout::ycbcr, 2, 2, 50, 38, 0},
                                     ProgressiveCase{"", JpegLayout::ycbcr, 1, 1, 33, 21, 3}}) {
        std::vector<uint8_t> jpeg = make_file(c, false, true);
        ASSERT_FALSE(jpeg.empty());
        const DecodeRequest q = request_for(c);
        DecodedImage ref = tj_decode(jpeg, TJPF_RGB, kTjAccurate);
        ASSERT_TRUE(ref.ok()) << ref.error;
        DecodeResult d = decode(jpeg, q);
        ASSERT_EQ(d.result, JPEG_OK);
        EXPECT_TRUE(images_close("multiscan", d.pixels.data(), 0, ref.pixels.data(), 0, d.width, d.height, 3,
                                 Limits{4, 0.5}));
    }
}

} // namespace
} // namespace qrl_test
