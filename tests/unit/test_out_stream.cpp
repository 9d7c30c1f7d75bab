// The encoder's output stream and marker writers: flushing of pending bits
// (stuffing, 1-bit padding) in both accumulator conventions, the memory
// buffer's one spare byte, file buffering, and the bytes of every segment.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"
#include "encode/default_tables.h"
#include "encode/huffman_encode.h"
#include "encode/marker_writer.h"
#include "encode/out_stream.h"
#include "support/corpus.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A memory stream over `buffer`, driven by the portable kernels.
struct MemoryStream {
    KERNEL_TABLE kernels = qrl::kernel_set_table(qrl::KernelSet::Portable);
    std::unique_ptr<JPEG_PROPERTIES> props = std::make_unique<JPEG_PROPERTIES>();
    Bytes buffer;
    explicit MemoryStream(size_t size, bool wide = false) : buffer(size + 16, 0x5A) {
        props->jfif_version = 0x0102;
        props->jfif_units = 1;
        props->jfif_x_density = 72;
        props->jfif_y_density = 300;
        props->adobe_version = 100;
        INPUT_SOURCE *s = stream();
        s->kernel_table = &kernels;
        if (wide) {
            kernels.out_stream_open = &qrl::out_stream_open_wide;
            kernels.out_stream_write = &qrl::out_stream_write_wide;
        }
        kernels.out_stream_open(s, buffer.data(), static_cast<int32_t>(size));
        s->position = 0;
    }
    INPUT_SOURCE *stream() { return &props->input; }
    Bytes written() const {
        return Bytes(buffer.begin(), buffer.begin() + props->input.position);
    }
};

TEST(OutStream, StuffsAByteOf0xFF) {
    MemoryStream m(16);
    ASSERT_EQ(qrl::put_bits(m.stream(), 0xFF, 8), JPEG_OK);
    ASSERT_EQ(qrl::out_stream_finish(m.stream()), JPEG_OK);
    EXPECT_EQ(m.written(), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(m.stream()->position, 2);
}

TEST(OutStream, PadsTheLastByteWithOnesInBothConventions) {
    MemoryStream narrow(16);
    ASSERT_EQ(qrl::put_bits(narrow.stream(), 0b101, 3), JPEG_OK);
    ASSERT_EQ(qrl::write_eoi(narrow.stream()), JPEG_OK);
    EXPECT_EQ(narrow.written(), (Bytes{0xBF, 0xFF, 0xD9}));

    MemoryStream wide(16, true);
    EXPECT_EQ(wide.stream()->bit_count, 0);
    wide.stream()->bit_buffer = uint64_t{0b101} << 61;
    wide.stream()->bit_count = 3;
    ASSERT_EQ(qrl::write_eoi(wide.stream()), JPEG_OK);
    EXPECT_EQ(wide.written(), (Bytes{0xBF, 0xFF, 0xD9}));
    EXPECT_EQ(wide.stream()->bit_count, 0);
}

TEST(OutStream, PendingFFBeforeAMarkerIsStuffed) {
    MemoryStream narrow(16);
    ASSERT_EQ(qrl::put_bits(narrow.stream(), 0x7F, 7), JPEG_OK);
    ASSERT_EQ(qrl::put_bits(narrow.stream(), 1, 1), JPEG_OK); // byte full, still pending
    EXPECT_EQ(narrow.stream()->position, 0);
    ASSERT_EQ(qrl::write_rst(narrow.stream(), 3), JPEG_OK);
    EXPECT_EQ(narrow.written(), (Bytes{0xFF, 0x00, 0xFF, 0xD3}));

    MemoryStream wide(16, true);
    wide.stream()->bit_buffer = uint64_t{0xFFA0} << 48;
    wide.stream()->bit_count = 12;
    ASSERT_EQ(qrl::write_eoi(wide.stream()), JPEG_OK);
    EXPECT_EQ(wide.written(), (Bytes{0xFF, 0x00, 0xAF, 0xFF, 0xD9}));
}

TEST(OutStream, MemoryWritesKeepOneByteUnused) {
    MemoryStream m(4);
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(qrl::out_stream_write(data, 4, m.stream()), JPEG_BUFFER_TOO_SMALL);
    EXPECT_EQ(m.stream()->position, 0);
    EXPECT_EQ(m.buffer[0], 0x5A);
    ASSERT_EQ(qrl::out_stream_write(data, 3, m.stream()), JPEG_OK);
    EXPECT_EQ(m.written(), (Bytes{1, 2, 3}));
    // Pending bits, with their stuffing, count towards the size of a write.
    MemoryStream p(4);
    ASSERT_EQ(qrl::put_bits(p.stream(), 1, 1), JPEG_OK);
    EXPECT_EQ(qrl::out_stream_write(data, 2, p.stream()), JPEG_BUFFER_TOO_SMALL);
    EXPECT_EQ(qrl::out_stream_write(data, 1, p.stream()), JPEG_OK);
    EXPECT_EQ(p.written(), (Bytes{0xFF, 0x00, 1}));
}

TEST(OutStream, PutBitsRefusesAFullMemoryBuffer) {
    MemoryStream m(1);
    EXPECT_EQ(qrl::put_bits(m.stream(), 0x12, 8), JPEG_OK);          // pending
    EXPECT_EQ(qrl::put_bits(m.stream(), 0x34, 8), JPEG_OK);          // 0x12 out
    EXPECT_EQ(qrl::put_bits(m.stream(), 0x56, 8), JPEG_BUFFER_TOO_SMALL);
    EXPECT_EQ(m.buffer[1], 0x5A);
}

TEST(OutStream, FileStreamWritesLongSegmentsThroughItsBuffer) {
    const std::string path = std::string(QRL_BINARY_DIR) + "/out_stream_file.bin";
    MemoryStream m(0);
    INPUT_SOURCE *s = m.stream();
    s->file = qrl::open_file(path.c_str(), qrl::kGenericRead | qrl::kGenericWrite);
    ASSERT_NE(s->file, nullptr);
    qrl::out_stream_open(s, nullptr, 0);
    Bytes comment(10000);
    for (size_t i = 0; i < comment.size(); ++i) comment[i] = static_cast<uint8_t>(i * 7);
    m.props->jpeg_comment = comment.data();
    m.props->jpeg_comment_size = static_cast<uint16_t>(comment.size());
    ASSERT_EQ(qrl::write_soi(s), JPEG_OK);
    ASSERT_EQ(qrl::write_comment(s, m.props.get()), JPEG_OK);
    ASSERT_EQ(qrl::put_bits(s, 0b1100, 4), JPEG_OK);
    ASSERT_EQ(qrl::out_stream_finish(s), JPEG_OK);
    EXPECT_EQ(s->position, 2 + 4 + 10000 + 1);
    EXPECT_NE(qrl::close_file(s->file), 0);
    const Bytes got = qrl_test::read_file_bytes(path);
    ASSERT_EQ(got.size(), 10007u);
    EXPECT_EQ(got[2], 0xFF);
    EXPECT_EQ(got[3], 0xFE);
    EXPECT_EQ((got[4] << 8) | got[5], 10002);
    EXPECT_TRUE(std::equal(comment.begin(), comment.end(), got.begin() + 6));
    EXPECT_EQ(got.back(), 0xCF);
    std::remove(path.c_str());
}

// Segment writers: the exact bytes.
TEST(MarkerWriter, SegmentBytes) {
    MemoryStream m(2048);
    INPUT_SOURCE *s = m.stream();
    JPEG_PROPERTIES *p = m.props.get();
    COMPONENT_INFO comps[4] = {{0, 2, 2, 0}, {1, 1, 1, 1}, {2, 1, 1, 1}, {3, 1, 1, 0}};
    p->frame_components = comps;
    p->frame_component_count = 3;
    p->frame_width = 0x0123;
    p->frame_height = 0x0045;
    const uint8_t sel[4] = {0, 1, 1, 1};
    std::memcpy(p->dc_table_of_scan_component, sel, 4);
    std::memcpy(p->ac_table_of_scan_component, sel, 4);
    SCAN_COMPONENT sc[3] = {{0, 2, 2, nullptr, nullptr, nullptr}, {1, 1, 1, nullptr, nullptr, nullptr},
                            {2, 1, 1, nullptr, nullptr, nullptr}};
    SCAN_INFO scan{};
    scan.scan_component_count = 3;
    scan.scan_components = sc;

    struct Case {
        const char *name;
        int32_t (*write)(INPUT_SOURCE *, JPEG_PROPERTIES *, SCAN_INFO *);
        Bytes expected;
    };
    const Case cases[] = {
        {"SOI", [](INPUT_SOURCE *st, JPEG_PROPERTIES *, SCAN_INFO *) { return qrl::write_soi(st); }, {0xFF, 0xD8}},
        {"JFIF", [](INPUT_SOURCE *st, JPEG_PROPERTIES *pp, SCAN_INFO *) { return qrl::write_jfif(st, pp); },
         {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 72, 0x01, 0x2C, 0, 0}},
        {"Adobe", [](INPUT_SOURCE *st, JPEG_PROPERTIES *pp, SCAN_INFO *) { return qrl::write_adobe(st, pp, 2); },
         {0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 2}},
        {"SOF0", [](INPUT_SOURCE *st, JPEG_PROPERTIES *pp, SCAN_INFO *) { return qrl::write_sof(st, pp, 0xC0); },
         {0xFF, 0xC0, 0, 17, 8, 0, 0x45, 0x01, 0x23, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1}},
        {"SOF2", [](INPUT_SOURCE *st, JPEG_PROPERTIES *pp, SCAN_INFO *) { return qrl::write_sof(st, pp, 0xC2); },
         {0xFF, 0xC2, 0, 17, 8, 0, 0x45, 0x01, 0x23, 3, 0, 0x22, 0, 1, 0x11, 1, 2, 0x11, 1}},
        {"SOS", [](INPUT_SOURCE *st, JPEG_PROPERTIES *pp, SCAN_INFO *sn) { return qrl::write_sos_sequential(st, pp, sn); },
         {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0}},
        {"DRI", [](INPUT_SOURCE *st, JPEG_PROPERTIES *, SCAN_INFO *) { return qrl::write_dri(st, 0x1234); },
         {0xFF, 0xDD, 0, 4, 0x12, 0x34}},
        {"RST7", [](INPUT_SOURCE *st, JPEG_PROPERTIES *, SCAN_INFO *) { return qrl::write_rst(st, 7); }, {0xFF, 0xD7}},
        {"EOI", [](INPUT_SOURCE *st, JPEG_PROPERTIES *, SCAN_INFO *) { return qrl::write_eoi(st); }, {0xFF, 0xD9}},
    };
    for (const Case &c : cases) {
        const int32_t before = s->position;
        ASSERT_EQ(c.write(s, p, &scan), JPEG_OK) << c.name;
        const Bytes got(m.buffer.begin() + before, m.buffer.begin() + s->position);
        EXPECT_EQ(got, c.expected) << c.name;
    }
}

TEST(MarkerWriter, SingleComponentHeadersAndProgressiveScan) {
    MemoryStream m(256);
    INPUT_SOURCE *s = m.stream();
    JPEG_PROPERTIES *p = m.props.get();
    COMPONENT_INFO comps[4] = {{0, 1, 1, 0}, {1, 1, 1, 1}, {2, 1, 1, 1}, {3, 1, 1, 0}};
    p->frame_components = comps;
    p->frame_component_count = 1;
    p->frame_width = 8;
    p->frame_height = 8;
    ASSERT_EQ(qrl::write_sof(s, p, 0xC0), JPEG_OK);
    EXPECT_EQ(Bytes(m.buffer.begin() + 9, m.buffer.begin() + 13), (Bytes{1, 0, 0x11, 0}));
    const int32_t at = s->position;
    SCAN_COMPONENT sc{2, 1, 1, nullptr, nullptr, nullptr};
    SCAN_INFO scan{};
    scan.scan_component_count = 1;
    scan.scan_components = &sc;
    scan.spectral_start = 6;
    scan.spectral_end = 63;
    scan.approx_high = 2;
    scan.approx_low = 1;
    const uint8_t sel[4] = {0, 1, 1, 1};
    std::memcpy(p->dc_table_of_scan_component, sel, 4);
    std::memcpy(p->ac_table_of_scan_component, sel, 4);
    ASSERT_EQ(qrl::write_sos_progressive(s, p, &scan), JPEG_OK);
    EXPECT_EQ(Bytes(m.buffer.begin() + at, m.buffer.begin() + s->position),
              (Bytes{0xFF, 0xDA, 0, 8, 1, 2, 0x11, 6, 63, 0x21}));
}

TEST(MarkerWriter, TablesAndTheirLimits) {
    MemoryStream m(4096);
    INPUT_SOURCE *s = m.stream();
    int16_t q[64];
    for (int i = 0; i < 64; ++i) q[i] = static_cast<int16_t>(i + 1);
    ASSERT_EQ(qrl::write_dqt(s, 1, 0, q), JPEG_OK);
    EXPECT_EQ(Bytes(m.buffer.begin(), m.buffer.begin() + 6), (Bytes{0xFF, 0xDB, 0, 67, 0x01, 1}));
    EXPECT_EQ(m.buffer[4 + 64], 64);
    ASSERT_EQ(s->position, 69);

    ASSERT_EQ(qrl::write_dht_one(s, 0, 1, qrl::kDcChrominanceBits, qrl::kDcValues), JPEG_OK);
    EXPECT_EQ(Bytes(m.buffer.begin() + 69, m.buffer.begin() + 74), (Bytes{0xFF, 0xC4, 0, 31, 0x01}));
    EXPECT_EQ(s->position, 69 + 33);

    // A table of more symbols than one may hold is refused before any byte goes out.
    const uint8_t too_many[16] = {0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0, 0, 0, 0};
    uint8_t symbols[512] = {};
    const int32_t before = s->position;
    EXPECT_EQ(qrl::write_dht_one(s, 1, 0, too_many, symbols), JPEG_BAD_HUFFMAN_TABLE);
    JPEG_PROPERTIES *p = m.props.get();
    p->huffman_table_bound = 1;
    p->raw_huffman_tables[0] = {const_cast<uint8_t *>(qrl::kDcLuminanceBits), const_cast<uint8_t *>(qrl::kDcValues), 0, 0};
    p->raw_huffman_tables[1] = {const_cast<uint8_t *>(too_many), symbols, 1, 0};
    EXPECT_EQ(qrl::write_dht_all(s, p), JPEG_BAD_HUFFMAN_TABLE);
    EXPECT_EQ(s->position, before);
    EXPECT_EQ(qrl::write_rst(s, 8), JPEG_BAD_RST_MARKER);
    EXPECT_EQ(s->position, before);

    // All tables in one segment.
    p->huffman_table_bound = 2;
    p->raw_huffman_tables[1] = {const_cast<uint8_t *>(qrl::kAcLuminanceBits), const_cast<uint8_t *>(qrl::kAcLuminanceValues), 1, 0};
    p->raw_huffman_tables[2] = {const_cast<uint8_t *>(qrl::kDcChrominanceBits), const_cast<uint8_t *>(qrl::kDcValues), 0, 1};
    p->raw_huffman_tables[3] = {const_cast<uint8_t *>(qrl::kAcChrominanceBits), const_cast<uint8_t *>(qrl::kAcChrominanceValues), 1, 1};
    ASSERT_EQ(qrl::write_dht_all(s, p), JPEG_OK);
    const int32_t length = 2 + 2 * (17 + 12) + 2 * (17 + 162);
    EXPECT_EQ(s->position - before, length + 2);
    EXPECT_EQ((m.buffer[static_cast<size_t>(before) + 2] << 8) | m.buffer[static_cast<size_t>(before) + 3], length);
}

TEST(MarkerWriter, VersionRecord) {
    const VERSION_INFO *v = codec_version();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->major, 1);
    EXPECT_EQ(v->minor, 51);
    EXPECT_EQ(v->build, 12);
    EXPECT_STREQ(v->version, "1.51.12");
    EXPECT_STREQ(v->internal_version, "[1.51.12.44]");
}

} // namespace
