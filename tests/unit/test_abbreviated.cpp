// Abbreviated streams: a tables-only stream read first (modes 4, 5), then
// image-only streams decoded with the tables the record keeps (modes 6, 7);
// tables rebuilt from the caller's raw-table slots; image-only streams whose
// scans name tables nobody defined.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decode_test_util.h"
#include "jpeg_segments.h"
#include "support/oracle.h"

namespace qrl_test {
namespace {

struct Halves {
    std::vector<uint8_t> tables; // SOI, the DQT and DHT segments before the first scan, EOI
    std::vector<uint8_t> image;  // the complete stream without those segments
};

// Splits a complete stream. Tables met after the first scan (progressive
// streams redefine Huffman tables between scans) stay in the image half.
Halves split_stream(const std::vector<uint8_t> &full) {
    Halves h;
    const std::vector<JpegSegment> segments = split_segments(full);
    EXPECT_GT(segments.size(), 2u);
    if (segments.size() < 2) return h;
    std::vector<JpegSegment> tables{segments.front()}, image{segments.front()};
    bool scan_seen = false;
    for (size_t i = 1; i < segments.size(); ++i) {
        const JpegSegment &s = segments[i];
        if (s.code == 0xDA) scan_seen = true;
        const bool table = s.code == 0xDB || s.code == 0xC4;
        (table && !scan_seen ? tables : image).push_back(s);
    }
    tables.push_back(segments.back()); // EOI
    EXPECT_EQ(segments.back().code, 0xD9);
    h.tables = join_segments(tables);
    h.image = join_segments(image);
    return h;
}

struct Output {
    int32_t width = 0, height = 0, channels = 3, color = COLOR_RGB;
};

void set_output(JPEG_CODEC_RECORD *rec, const Output &o, std::vector<uint8_t> &pixels) {
    pixels.assign(static_cast<size_t>(o.width) * o.height * o.channels, 0);
    rec->image_pixels = pixels.data();
    rec->image_width = o.width;
    rec->image_height = o.height;
    rec->image_channels = o.channels;
    rec->image_color = o.color;
    rec->image_pad_bytes = 0;
}

// Points the record at a stream: the temporary file for file modes, the
// bytes for memory modes.
void set_stream(JPEG_CODEC_RECORD *rec, std::vector<uint8_t> &bytes, const TempJpeg *file) {
    if (file != nullptr) {
        rec->jpeg_file_name = file->path().c_str();
    } else {
        rec->jpeg_buffer = bytes.data();
        rec->jpeg_buffer_size = static_cast<int32_t>(bytes.size());
    }
}

struct PairResult {
    int32_t tables_result = 0, image_result = 0;
    int32_t width_after_tables = -1, expect_frame_after_tables = -1; // what the tables read left
    std::vector<uint8_t> pixels;
};

// Reads `tables` (mode 4 or 5), then decodes `image` (mode 6 or 7) on the
// same record.
PairResult decode_pair(JPEG_CODEC_RECORD *rec, std::vector<uint8_t> tables, std::vector<uint8_t> image,
                       const Output &o, bool file) {
    PairResult r;
    TempJpeg tables_file(tables), image_file(image);
    set_output(rec, o, r.pixels);
    set_stream(rec, tables, file ? &tables_file : nullptr);
    r.tables_result = codec_read(rec, file ? JPEG_IO_READ_TABLES_FILE : JPEG_IO_READ_TABLES_MEM);
    if (r.tables_result != JPEG_OK) return r;
    r.width_after_tables = rec->jpeg_width;
    r.expect_frame_after_tables = rec->props.expect_frame;
    set_stream(rec, image, file ? &image_file : nullptr);
    r.image_result = codec_read(rec, file ? JPEG_IO_DECODE_IMAGE_ONLY_FILE : JPEG_IO_DECODE_IMAGE_ONLY_MEM);
    rec->jpeg_file_name = nullptr;
    return r;
}

struct StreamCase {
    const char *name;
    JpegLayout layout;
    int h0, v0;
    bool progressive, scan_per_component, optimize;
    int restart_interval;
};

const StreamCase kStreams[] = {
    {"s420_restart4", JpegLayout::ycbcr, 2, 2, false, false, false, 4},
    {"s444_optimized", JpegLayout::ycbcr, 1, 1, false, false, true, 0},
    {"gray", JpegLayout::gray, 1, 1, false, false, false, 0},
    {"s422_scan_per_component", JpegLayout::ycbcr, 2, 1, false, true, false, 0},
    {"s420_progressive", JpegLayout::ycbcr, 2, 2, true, false, true, 0},
};

std::vector<uint8_t> encode(const StreamCase &c, uint32_t seed, int quality = 85) {
    LibjpegEncodeOptions o;
    o.width = 45;
    o.height = 37;
    o.layout = c.layout;
    if (c.layout != JpegLayout::gray) {
        o.h_samp[0] = c.h0;
        o.v_samp[0] = c.v0;
        o.h_samp[1] = o.v_samp[1] = o.h_samp[2] = o.v_samp[2] = 1;
    }
    o.progressive = c.progressive;
    o.scan_per_component = c.scan_per_component;
    o.optimize_coding = c.optimize;
    o.restart_interval = c.restart_interval;
    o.quality = quality;
    o.seed = seed;
    return libjpeg_encode(o);
}

Output output_for(const StreamCase &c) {
    Output o;
    o.width = 45;
    o.height = 37;
    if (c.layout == JpegLayout::gray) {
        o.channels = 1;
        o.color = COLOR_GRAY;
    }
    return o;
}

std::vector<uint8_t> whole_decode(std::vector<uint8_t> jpeg, const Output &o) {
    DecodeRequest q;
    q.image_color = o.color;
    q.channels = o.channels;
    DecodeResult d = decode(jpeg, q);
    EXPECT_EQ(d.result, JPEG_OK);
    return d.pixels;
}

class Abbreviated : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Abbreviated, TablesThenImageEqualsTheCompleteStream) {
    const StreamCase &c = GetParam();
    const std::vector<uint8_t> full = encode(c, 1);
    ASSERT_FALSE(full.empty());
    const Halves halves = split_stream(full);
    ASSERT_LT(halves.image.size(), full.size()) << "the image half carries no tables";
    const Output o = output_for(c);
    const std::vector<uint8_t> expected = whole_decode(full, o);
    for (bool file : {false, true}) {
        Record rec = make_record();
        const PairResult r = decode_pair(rec.get(), halves.tables, halves.image, o, file);
        ASSERT_EQ(r.tables_result, JPEG_OK) << (file ? "file" : "memory");
        ASSERT_EQ(r.image_result, JPEG_OK) << (file ? "file" : "memory");
        EXPECT_EQ(r.pixels, expected) << (file ? "file" : "memory");
    }
}

// One tables-only read serves several image-only streams written with the
// same tables (the standard Huffman tables, one quality).
TEST_P(Abbreviated, KeptTablesServeSeveralImages) {
    const StreamCase &c = GetParam();
    if (c.optimize) GTEST_SKIP() << "skipped: optimized Huffman tables differ between images";
    const Output o = output_for(c);
    for (bool file : {false, true}) {
        Record rec = make_record();
        bool first = true;
        for (uint32_t seed : {1u, 7u, 12u}) {
            const std::vector<uint8_t> full = encode(c, seed);
            ASSERT_FALSE(full.empty());
            Halves halves = split_stream(full);
            std::vector<uint8_t> pixels;
            if (first) {
                const PairResult r = decode_pair(rec.get(), halves.tables, halves.image, o, file);
                ASSERT_EQ(r.image_result, JPEG_OK);
                pixels = r.pixels;
                first = false;
            } else {
                TempJpeg image_file(halves.image);
                set_output(rec.get(), o, pixels);
                set_stream(rec.get(), halves.image, file ? &image_file : nullptr);
                ASSERT_EQ(codec_read(rec.get(), file ? JPEG_IO_DECODE_IMAGE_ONLY_FILE : JPEG_IO_DECODE_IMAGE_ONLY_MEM),
                          JPEG_OK)
                    << "seed " << seed;
                rec->jpeg_file_name = nullptr;
            }
            EXPECT_EQ(pixels, whole_decode(full, o)) << "seed " << seed << (file ? " file" : " memory");
        }
    }
}

// A tables-only read of a complete stream stops at its frame header, leaves
// it unread and keeps the tables read before it. (The stream is the complete
// one with its tables moved before the frame header.)
TEST_P(Abbreviated, TablesReadStopsAtTheFrameHeader) {
    const StreamCase &c = GetParam();
    const std::vector<uint8_t> full = encode(c, 3);
    ASSERT_FALSE(full.empty());
    const Halves halves = split_stream(full);
    std::vector<JpegSegment> segments = split_segments(halves.tables);
    ASSERT_GE(segments.size(), 2u);
    segments.pop_back(); // EOI
    const std::vector<JpegSegment> image = split_segments(halves.image);
    segments.insert(segments.end(), image.begin() + 1, image.end()); // without its SOI
    const std::vector<uint8_t> tables_first = join_segments(segments);
    const Output o = output_for(c);
    const std::vector<uint8_t> expected = whole_decode(full, o);
    ASSERT_EQ(whole_decode(tables_first, o), expected);
    for (bool file : {false, true}) {
        Record rec = make_record();
        const PairResult r = decode_pair(rec.get(), tables_first, halves.image, o, file);
        ASSERT_EQ(r.tables_result, JPEG_OK) << (file ? "file" : "memory");
        EXPECT_EQ(r.width_after_tables, 0) << "the frame header was left unread";
        EXPECT_EQ(r.expect_frame_after_tables, 1);
        ASSERT_EQ(r.image_result, JPEG_OK) << (file ? "file" : "memory");
        EXPECT_EQ(r.pixels, expected) << (file ? "file" : "memory");
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, Abbreviated, ::testing::ValuesIn(kStreams),
                         [](const ::testing::TestParamInfo<StreamCase> &p) { return std::string(p.param.name); });

// The parser copies the tables it reads into the caller's raw slots; with
// custom_quant_tables and custom_huffman_tables set, an image decode rebuilds
// its tables from those slots, over whatever the record held.
TEST(CallerTables, RawSlotsFilledByTheParserRebuildTheTables) {
    const StreamCase c = kStreams[0];
    const std::vector<uint8_t> full = encode(c, 5, 90);
    const std::vector<uint8_t> other = encode(c, 5, 30); // other quantization tables
    ASSERT_FALSE(full.empty());
    ASSERT_FALSE(other.empty());
    const Halves halves = split_stream(full);
    const Halves other_halves = split_stream(other);
    const Output o = output_for(c);
    const std::vector<uint8_t> expected = whole_decode(full, o);

    uint8_t quant[4][128] = {};
    uint8_t bits[8][16] = {};
    uint8_t values[8][256] = {};
    // The slots as the caller hands them over: addresses, and the class and
    // id that the parser wrote beside them.
    RAW_QUANT_TABLE quant_slots[4] = {};
    RAW_HUFFMAN_TABLE huffman_slots[8] = {};
    for (int i = 0; i < 4; ++i) quant_slots[i].table = quant[i];
    for (int k = 0; k < 8; ++k) {
        huffman_slots[k].bits = bits[k];
        huffman_slots[k].values = values[k];
    }
    auto attach = [&](JPEG_CODEC_RECORD *rec) {
        std::memcpy(rec->props.raw_quant_tables, quant_slots, sizeof quant_slots);
        std::memcpy(rec->props.raw_huffman_tables, huffman_slots, sizeof huffman_slots);
    };
    {
        Record rec = make_record();
        attach(rec.get());
        std::vector<uint8_t> pixels;
        set_output(rec.get(), o, pixels);
        std::vector<uint8_t> tables = halves.tables;
        set_stream(rec.get(), tables, nullptr);
        ASSERT_EQ(codec_read(rec.get(), JPEG_IO_READ_TABLES_MEM), JPEG_OK);
        EXPECT_NE(quant[0][0], 0) << "the luminance table was copied";
        EXPECT_EQ(rec->props.raw_huffman_tables[1].table_class, 1);
        EXPECT_EQ(rec->props.raw_huffman_tables[2].table_id, 1);
        std::memcpy(quant_slots, rec->props.raw_quant_tables, sizeof quant_slots);
        std::memcpy(huffman_slots, rec->props.raw_huffman_tables, sizeof huffman_slots);
    }
    for (bool file : {false, true}) {
        // A second record reads the other quality's tables, then decodes the
        // image with the slots: only the rebuild gives the right pixels.
        Record rec = make_record();
        std::vector<uint8_t> pixels;
        set_output(rec.get(), o, pixels);
        std::vector<uint8_t> tables = other_halves.tables;
        set_stream(rec.get(), tables, nullptr);
        ASSERT_EQ(codec_read(rec.get(), JPEG_IO_READ_TABLES_MEM), JPEG_OK);
        attach(rec.get());
        rec->props.custom_quant_tables = 1;
        rec->props.custom_huffman_tables = 1;
        std::vector<uint8_t> image = halves.image;
        TempJpeg image_file(image);
        set_stream(rec.get(), image, file ? &image_file : nullptr);
        ASSERT_EQ(codec_read(rec.get(), file ? JPEG_IO_DECODE_IMAGE_ONLY_FILE : JPEG_IO_DECODE_IMAGE_ONLY_MEM),
                  JPEG_OK);
        rec->jpeg_file_name = nullptr;
        EXPECT_EQ(pixels, expected) << (file ? "file" : "memory");
    }
    // Without the flags the record decodes with the other quality's tables.
    Record rec = make_record();
    const PairResult r = decode_pair(rec.get(), other_halves.tables, halves.image, o, false);
    ASSERT_EQ(r.image_result, JPEG_OK);
    EXPECT_NE(r.pixels, expected);
}

// Image-only streams whose scans name tables that no stream defined decode
// with the zeroed tables of a fresh record, or with the tables of an earlier
// tables-only stream that defined only some of them: a defined result, and
// nothing read or written outside the record's tables and the buffers.
TEST(AbbreviatedBadInput, TablesNobodyDefined) {
    const StreamCase c = kStreams[0];
    const std::vector<uint8_t> full = encode(c, 2);
    const Halves halves = split_stream(full);
    const Output o = output_for(c);
    const std::vector<uint8_t> expected = whole_decode(full, o);

    // A tables-only stream with the luminance tables only (ids 0): the
    // chroma components name ids 1.
    std::vector<JpegSegment> luma_only;
    for (const JpegSegment &s : split_segments(halves.tables)) {
        if (s.code == 0xDB || s.code == 0xC4) {
            // Keep the segment only when its first table has id 0 (libjpeg
            // writes one table per segment).
            if (s.bytes.size() > 4 && (s.bytes[4] & 0x0F) != 0) continue;
        }
        luma_only.push_back(s);
    }
    const std::vector<uint8_t> partial_tables = join_segments(luma_only);
    ASSERT_LT(partial_tables.size(), halves.tables.size());

    for (bool file : {false, true}) {
        {
            Record rec = make_record(); // no tables at all
            std::vector<uint8_t> pixels;
            set_output(rec.get(), o, pixels);
            std::vector<uint8_t> image = halves.image;
            TempJpeg image_file(image);
            set_stream(rec.get(), image, file ? &image_file : nullptr);
            const int32_t result =
                codec_read(rec.get(), file ? JPEG_IO_DECODE_IMAGE_ONLY_FILE : JPEG_IO_DECODE_IMAGE_ONLY_MEM);
            rec->jpeg_file_name = nullptr;
            // Empty Huffman tables decode no symbol and zero quantizers give
            // flat blocks: every pixel is the same gray.
            EXPECT_EQ(result, JPEG_OK) << codec_error_text(result);
            const size_t ch = static_cast<size_t>(o.channels);
            for (size_t i = 0; i < pixels.size(); ++i) ASSERT_EQ(pixels[i], pixels[i % ch]) << "sample " << i;
            EXPECT_NEAR(pixels[0], 128, 1);
        }
        {
            Record rec = make_record();
            const PairResult r = decode_pair(rec.get(), partial_tables, halves.image, o, file);
            ASSERT_EQ(r.tables_result, JPEG_OK);
            EXPECT_TRUE(r.image_result == JPEG_OK || r.image_result < 0) << r.image_result;
            EXPECT_NE(r.pixels, expected) << "the chroma tables were missing";
        }
    }
}

} // namespace
} // namespace qrl_test
