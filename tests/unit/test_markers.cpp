// Marker parser and segment handlers, driven through a header read (mode 1)
// of small hand-built streams.
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "codec/codec.h"
#include "dispatch/kernel_table.h"
#include "stream_builder.h"

namespace {

using namespace qrl_stream;

struct Record {
    std::unique_ptr<JPEG_CODEC_RECORD> r = std::make_unique<JPEG_CODEC_RECORD>();
    Record() {
        std::memset(r.get(), 0xAB, sizeof *r);
        EXPECT_EQ(codec_init(r.get()), JPEG_OK);
    }
    ~Record() { (void)codec_free(r.get()); }
    int32_t read(Bytes &stream, int32_t mode = JPEG_IO_READ_HEADER_MEM) {
        r->jpeg_buffer = stream.data();
        r->jpeg_buffer_size = static_cast<int32_t>(stream.size());
        return codec_read(r.get(), mode);
    }
};

// Stream = SOI + tables + `frame` + `scan` (+ 2 data bytes and EOI).
Bytes stream_with(const Bytes &frame, const Bytes &scan, const Bytes &tables = {}) {
    Bytes s = marker(0xD8);
    append(s, segment(0xDB, dqt_payload(0)));
    append(s, segment(0xC4, simple_dht_payload(0, 0)));
    append(s, segment(0xC4, simple_dht_payload(1, 0)));
    append(s, tables);
    append(s, frame);
    append(s, scan);
    append(s, {0x00, 0x00, 0xFF, 0xD9});
    return s;
}

const Bytes kFrame = segment(0xC0, sof_payload(16, 16, {{1, 0x22, 0}, {2, 0x11, 0}, {3, 0x11, 0}}));
const Bytes kScan = segment(0xDA, sos_payload({{1, 0x00}, {2, 0x00}, {3, 0x00}}));

Bytes big_dht() {
    // 3 tables of 256 values and one of 255: a content of 1091 bytes.
    uint8_t c256[16] = {};
    c256[8] = 255;
    c256[9] = 1;
    uint8_t c255[16] = {};
    c255[8] = 255;
    Bytes p = dht_payload(0, 1, c256);
    append(p, dht_payload(1, 1, c256));
    append(p, dht_payload(0, 2, c256));
    append(p, dht_payload(1, 2, c255));
    return p;
}

Bytes four_dqt(int extra_bytes) {
    Bytes p;
    for (uint8_t id = 0; id < 4; ++id) append(p, dqt_payload(id, true, 300));
    for (int i = 0; i < extra_bytes; ++i) p.push_back(0);
    return p;
}

struct Case {
    const char *name;
    Bytes stream;
    int32_t result;
};

Case make(const char *name, Bytes stream, int32_t result) { return Case{name, std::move(stream), result}; }

std::vector<Case> cases() {
    std::vector<Case> c;
    c.push_back(make("minimal", stream_with(kFrame, kScan), JPEG_OK));
    {
        const Bytes full = minimal_stream();
        c.push_back(make("no_soi", Bytes(full.begin() + 2, full.end()), JPEG_NOT_JPEG));
    }
    c.push_back(make("not_jpeg", Bytes{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A}, JPEG_NOT_JPEG));
    c.push_back(make("sof1", stream_with(segment(0xC1, sof_payload(16, 16, {{1, 0x11, 0}})),
                                         segment(0xDA, sos_payload({{1, 0x00}}))),
                     JPEG_OK));
    c.push_back(make("sof2", stream_with(segment(0xC2, sof_payload(16, 16, {{1, 0x11, 0}})),
                                         segment(0xDA, sos_payload({{1, 0x00}}, 0, 0))),
                     JPEG_OK));
    c.push_back(make("sof3_lossless", stream_with(segment(0xC3, sof_payload(16, 16, {{1, 0x11, 0}})), kScan),
                     JPEG_UNSUPPORTED_FRAME));
    c.push_back(make("sof9_arithmetic", stream_with(segment(0xC9, sof_payload(16, 16, {{1, 0x11, 0}})), kScan),
                     JPEG_UNSUPPORTED_FRAME));
    c.push_back(make("precision_12", stream_with(segment(0xC0, sof_payload(16, 16, {{1, 0x11, 0}}, 12)), kScan),
                     JPEG_UNSUPPORTED_FRAME));
    c.push_back(make("height_0_dnl", stream_with(segment(0xC0, sof_payload(16, 0, {{1, 0x11, 0}})), kScan),
                     JPEG_ERR_DNL));
    c.push_back(make("frame_no_components", stream_with(segment(0xC0, sof_payload(16, 16, {})), kScan),
                     JPEG_ERR_COMP));
    c.push_back(make("frame_5_components",
                     stream_with(segment(0xC0, sof_payload(16, 16, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0},
                                                                    {4, 0x11, 0}, {5, 0x11, 0}})),
                                 kScan),
                     JPEG_ERR_COMP));
    c.push_back(make("frame_shorter_than_components",
                     stream_with(segment(0xC0, sof_payload(16, 16, {{1, 0x22, 0}, {2, 0x11, 0}, {3, 0x11, 0}}), -3),
                                 kScan),
                     JPEG_DATA_ERROR));
    c.push_back(make("frame_header_cut", stream_with(segment(0xC0, {8, 0, 16, 0}), kScan), JPEG_DATA_ERROR));
    c.push_back(make("sampling_0", stream_with(segment(0xC0, sof_payload(16, 16, {{1, 0x01, 0}})), kScan),
                     JPEG_DATA_ERROR));
    c.push_back(make("sampling_5", stream_with(segment(0xC0, sof_payload(16, 16, {{1, 0x51, 0}})), kScan),
                     JPEG_DATA_ERROR));
    c.push_back(make("sampling_4x4", stream_with(segment(0xC0, sof_payload(16, 16, {{1, 0x44, 0}})),
                                                 segment(0xDA, sos_payload({{1, 0x00}}))),
                     JPEG_OK));
    c.push_back(make("dqt_id_4", stream_with(kFrame, kScan, segment(0xDB, dqt_payload(4))), JPEG_BAD_QUANT_TABLE));
    {
        const Bytes table = dqt_payload(1);
        c.push_back(make("dqt_cut_short",
                         stream_with(kFrame, kScan, segment(0xDB, Bytes(table.begin(), table.begin() + 31))),
                         JPEG_DATA_ERROR));
    }
    c.push_back(make("dqt_length_1", stream_with(kFrame, kScan, segment(0xDB, {}, -1)), JPEG_DATA_ERROR));
    c.push_back(make("dqt_four_16bit", stream_with(kFrame, kScan, segment(0xDB, four_dqt(0))), JPEG_OK));
    c.push_back(make("dqt_one_byte_too_long", stream_with(kFrame, kScan, segment(0xDB, four_dqt(1))), JPEG_DATA_ERROR));
    c.push_back(make("dht_class_2", stream_with(kFrame, kScan, segment(0xC4, simple_dht_payload(2, 0))),
                     JPEG_BAD_HUFFMAN_TABLE));
    c.push_back(make("dht_id_4", stream_with(kFrame, kScan, segment(0xC4, simple_dht_payload(1, 4))),
                     JPEG_BAD_HUFFMAN_TABLE));
    {
        Bytes p = simple_dht_payload(0, 1);
        p.resize(p.size() - 3); // counts promise 12 values, 9 remain
        c.push_back(make("dht_values_cut_short", stream_with(kFrame, kScan, segment(0xC4, p)), JPEG_DATA_ERROR));
    }
    c.push_back(make("dht_counts_cut_short", stream_with(kFrame, kScan, segment(0xC4, {0x01, 0, 1, 5})),
                     JPEG_DATA_ERROR));
    {
        const uint8_t overfull[16] = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        c.push_back(make("dht_overfull", stream_with(kFrame, kScan, segment(0xC4, dht_payload(1, 1, overfull))),
                         JPEG_BAD_HUFFMAN_TABLE));
    }
    c.push_back(make("dht_length_1093", stream_with(kFrame, kScan, segment(0xC4, big_dht())), JPEG_OK));
    {
        Bytes p = big_dht();
        p.push_back(0x00);
        c.push_back(make("dht_length_1094", stream_with(kFrame, kScan, segment(0xC4, p)), JPEG_DATA_ERROR));
    }
    c.push_back(make("dht_empty", stream_with(kFrame, kScan, segment(0xC4, {})), JPEG_OK));
    c.push_back(make("dri_short", stream_with(kFrame, kScan, segment(0xDD, {0x00})), JPEG_DATA_ERROR));
    c.push_back(make("dri", stream_with(kFrame, kScan, segment(0xDD, {0x00, 0x04})), JPEG_OK));
    {
        Bytes s = marker(0xD8);
        append(s, kScan);
        c.push_back(make("sos_before_frame", s, JPEG_NO_FRAME));
    }
    c.push_back(make("sos_5_components",
                     stream_with(kFrame, segment(0xDA, sos_payload({{1, 0}, {2, 0}, {3, 0}, {1, 0}, {2, 0}}))),
                     JPEG_DATA_ERROR));
    c.push_back(make("sos_no_components", stream_with(kFrame, segment(0xDA, sos_payload({}))), JPEG_DATA_ERROR));
    c.push_back(make("sos_unknown_component", stream_with(kFrame, segment(0xDA, sos_payload({{9, 0x00}}))),
                     JPEG_DATA_ERROR));
    c.push_back(make("sos_dc_table_4", stream_with(kFrame, segment(0xDA, sos_payload({{1, 0x40}}))), JPEG_DATA_ERROR));
    c.push_back(make("sos_ac_table_4", stream_with(kFrame, segment(0xDA, sos_payload({{1, 0x04}}))), JPEG_DATA_ERROR));
    c.push_back(make("sos_shorter_than_components",
                     stream_with(kFrame, segment(0xDA, sos_payload({{1, 0}, {2, 0}, {3, 0}}), -4)),
                     JPEG_DATA_ERROR));
    c.push_back(make("sos_spectral_end_64", stream_with(kFrame, segment(0xDA, sos_payload({{1, 0}}, 0, 64))),
                     JPEG_DATA_ERROR));
    c.push_back(make("sos_spectral_start_after_end", stream_with(kFrame, segment(0xDA, sos_payload({{1, 0}}, 5, 2))),
                     JPEG_DATA_ERROR));
    c.push_back(make("frame_width_0", stream_with(segment(0xC0, sof_payload(0, 16, {{1, 0x11, 0}})), kScan),
                     JPEG_ERR_SOF));
    c.push_back(make("sos_repeated_selector",
                     stream_with(kFrame, segment(0xDA, sos_payload({{1, 0x00}, {1, 0x00}, {3, 0x00}}))),
                     JPEG_DATA_ERROR));
    c.push_back(make("jpeg_ls_frame", stream_with(segment(0xF7, sof_payload(16, 16, {{1, 0x11, 0}})), kScan),
                     JPEG_UNSUPPORTED_FRAME));
    c.push_back(make("sos_quant_selector_4",
                     stream_with(segment(0xC0, sof_payload(16, 16, {{1, 0x11, 4}})), segment(0xDA, sos_payload({{1, 0}}))),
                     JPEG_DATA_ERROR));
    {
        Bytes app1 = {'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xD9, 0xFF, 0xC3, 0xFF};
        c.push_back(make("app1_with_markers_inside", stream_with(kFrame, kScan, segment(0xE1, app1)), JPEG_OK));
    }
    c.push_back(make("dnl_skipped", stream_with(kFrame, kScan, segment(0xDC, {0x00, 0x10})), JPEG_OK));
    c.push_back(make("rst_ignored", stream_with(kFrame, kScan, marker(0xD3)), JPEG_OK));
    {
        Bytes s = marker(0xD8);
        append(s, segment(0xDB, dqt_payload(0)));
        c.push_back(make("ends_without_eoi", s, JPEG_MEMORY_ERROR));
    }
    {
        Bytes s = marker(0xD8);
        append(s, segment(0xE1, Bytes(20, 1), 100));
        c.push_back(make("segment_past_the_end", s, JPEG_DATA_ERROR));
    }
    {
        Bytes s = marker(0xD8);
        append(s, segment(0xDB, dqt_payload(0)));
        append(s, marker(0xD9));
        c.push_back(make("eoi_before_frame", s, JPEG_OK));
    }
    {
        Bytes s = marker(0xD8);
        append(s, kFrame);
        append(s, marker(0xD9));
        append(s, kScan);
        c.push_back(make("eoi_after_frame_before_scan", s, JPEG_NO_IMAGE));
    }
    c.push_back(make("app14_short_passed_over",
                     stream_with(kFrame, kScan, segment(0xEE, {0x41, 0x64, 0x6F, 0x62, 0x65, 0, 0x64, 0, 0, 0})),
                     JPEG_OK));
    c.push_back(make("app14_length_1", stream_with(kFrame, kScan, segment(0xEE, {}, -1)), JPEG_DATA_ERROR));
    c.push_back(make("com_length_0", stream_with(kFrame, kScan, segment(0xFE, {}, -2)), JPEG_DATA_ERROR));
    return c;
}

TEST(MarkerHandlers, RefusalsOfHandBuiltStreams) {
    for (Case &c : cases()) {
        Record rec;
        EXPECT_EQ(rec.read(c.stream), c.result) << c.name;
        // The same stream read through the image path fails no worse than
        // the header read (never a crash).
    }
}

TEST(MarkerHandlers, FrameAndTablesAreRecorded) {
    Record rec;
    Bytes s = stream_with(kFrame, kScan,
                          [] {
                              Bytes t = segment(0xDB, dqt_payload(1));
                              append(t, segment(0xDB, dqt_payload(1, true, 500)));
                              append(t, segment(0xC4, simple_dht_payload(0, 1)));
                              append(t, segment(0xC4, simple_dht_payload(1, 1)));
                              append(t, segment(0xDD, {0x01, 0x02}));
                              return t;
                          }());
    ASSERT_EQ(rec.read(s), JPEG_OK);
    const JPEG_PROPERTIES &p = rec.r->props;
    EXPECT_EQ(rec.r->jpeg_width, 16);
    EXPECT_EQ(rec.r->jpeg_height, 16);
    EXPECT_EQ(rec.r->jpeg_channels, 3);
    EXPECT_EQ(rec.r->jpeg_subsampling, SUBSAMPLING_2X2);
    EXPECT_EQ(p.quant_tables_defined, 3);
    EXPECT_EQ(p.quant_table_count, 2);
    EXPECT_EQ(p.quant_tables[1].precision, 1);
    EXPECT_EQ(p.ac_table_count, 2);
    EXPECT_EQ(p.dc_table_count, 2);
    EXPECT_EQ(p.huffman_table_bound, 2);
    EXPECT_EQ(p.restart_interval, 0x0102);
    EXPECT_EQ(p.frame_component_count, 3);
    EXPECT_EQ(p.frame_components[0].h_sampling, 2);
    EXPECT_EQ(p.frame_components[0].v_sampling, 2);
    EXPECT_EQ(p.frame_components[2].id, 3);
    EXPECT_EQ(p.expect_frame, 0);
    EXPECT_EQ(p.kernel_table->scan_header_length, 14);
    EXPECT_EQ(p.current_scan, nullptr) << "the header read releases its scan";
}

TEST(MarkerHandlers, RawTableSlotsReceiveTheStreamTables) {
    Record rec;
    uint8_t raw_q[128] = {};
    uint8_t bits[16] = {};
    uint8_t values[256] = {};
    rec.r->props.raw_quant_tables[0].table = raw_q;
    rec.r->props.raw_huffman_tables[1].bits = bits;   // id 0, AC
    rec.r->props.raw_huffman_tables[1].values = values;
    Bytes s = minimal_stream();
    ASSERT_EQ(rec.read(s), JPEG_OK);
    EXPECT_EQ(raw_q[0], 2);
    EXPECT_EQ(raw_q[63], 2);
    EXPECT_EQ(raw_q[64], 0) << "an 8-bit table is 64 bytes";
    EXPECT_EQ(rec.r->props.raw_huffman_tables[1].table_class, 1);
    EXPECT_EQ(bits[1], 1);
    EXPECT_EQ(bits[2], 5);
    EXPECT_EQ(values[11], 11);
}

TEST(MarkerHandlers, SecondFrameHeaderReplacesTheFirstAndSof2IsSkippedByLength) {
    // SOF0 16x16, then SOF2 with a width of 511 (bytes 0x01 0xFF): with a frame
    // known the SOF2 is skipped whole, so its 0xFF byte cannot start a marker
    // that swallows the tables that follow.
    Bytes s = marker(0xD8);
    append(s, kFrame);
    append(s, segment(0xC2, sof_payload(511, 64, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}})));
    append(s, segment(0xDB, dqt_payload(0)));
    append(s, segment(0xDB, dqt_payload(3)));
    append(s, segment(0xC4, simple_dht_payload(0, 0)));
    append(s, kScan);
    append(s, marker(0xD9));
    Record rec;
    ASSERT_EQ(rec.read(s), JPEG_OK);
    EXPECT_EQ(rec.r->jpeg_width, 16);
    EXPECT_EQ(rec.r->props.quant_table_count, 4);

    Bytes t = marker(0xD8);
    append(t, kFrame);
    append(t, segment(0xC0, sof_payload(40, 24, {{7, 0x11, 0}})));
    append(t, segment(0xDA, sos_payload({{7, 0x00}})));
    Record rec2;
    ASSERT_EQ(rec2.read(t), JPEG_OK);
    EXPECT_EQ(rec2.r->jpeg_width, 40);
    EXPECT_EQ(rec2.r->jpeg_height, 24);
    EXPECT_EQ(rec2.r->jpeg_channels, 1);
    EXPECT_EQ(rec2.r->jpeg_color, COLOR_GRAY);
}

TEST(MarkerHandlers, RefusedFrameLeavesTheComponentArrayUsable) {
    Record rec;
    Bytes good = minimal_stream();
    ASSERT_EQ(rec.read(good), JPEG_OK);
    Bytes bad = stream_with(segment(0xC0, sof_payload(16, 16, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0},
                                                               {4, 0x11, 0}, {5, 0x11, 0}, {6, 0x11, 0}})),
                            kScan);
    EXPECT_EQ(rec.read(bad), JPEG_ERR_COMP);
    EXPECT_LE(rec.r->props.frame_component_count, QRL_MAX_COMPONENTS);
    EXPECT_EQ(rec.r->jpeg_width, 16) << "a failed read keeps the earlier out fields";
    ASSERT_EQ(rec.read(good), JPEG_OK);
    EXPECT_EQ(rec.r->props.frame_components[0].h_sampling, 2);
}

} // namespace
