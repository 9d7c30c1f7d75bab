// codec_read in the header modes (0, 1, 4, 5, 20, 21) on files and memory:
// color completion, subsampling codes, rewinds, thumbnails, comments, and the
// whole shared corpus.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codec/codec.h"
#include "dispatch/kernel_table.h"
#include "dispatch/platform.h"
#include "stream_builder.h"
#include "support/corpus.h"
#include "support/oracle.h"

namespace {

using namespace qrl_stream;

struct Record {
    std::unique_ptr<JPEG_CODEC_RECORD> r = std::make_unique<JPEG_CODEC_RECORD>();
    Record() {
        std::memset(r.get(), 0xAB, sizeof *r);
        EXPECT_EQ(codec_init(r.get()), JPEG_OK);
    }
    ~Record() { (void)codec_free(r.get()); }
    int32_t read_memory(std::vector<uint8_t> &stream, int32_t mode = JPEG_IO_READ_HEADER_MEM) {
        r->jpeg_buffer = stream.data();
        r->jpeg_buffer_size = static_cast<int32_t>(stream.size());
        return codec_read(r.get(), mode);
    }
    int32_t read_file(const std::string &path, int32_t mode = JPEG_IO_READ_HEADER_FILE) {
        r->jpeg_file_name = path.c_str();
        return codec_read(r.get(), mode);
    }
};

std::string temp_file(const std::string &name, const std::vector<uint8_t> &bytes) {
    const std::string path = std::string(QRL_BINARY_DIR) + "/read_header_" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

size_t find_marker(const std::vector<uint8_t> &s, uint8_t code) {
    for (size_t i = 0; i + 1 < s.size(); ++i)
        if (s[i] == 0xFF && s[i + 1] == code) return i;
    return std::string::npos;
}

// Inserts a segment right after SOI.
std::vector<uint8_t> with_segment_after_soi(const std::vector<uint8_t> &jpeg, const Bytes &seg) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    append(out, seg);
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

struct LayoutCase {
    const char *name;
    std::vector<uint8_t> jpeg;
    int channels;
    int jpeg_color;
    int subsampling;
    int image_color; // after the read (the default is COLOR_BGR)
    int image_channels;
};

std::vector<LayoutCase> layout_cases() {
    using qrl_test::JpegLayout;
    auto tj = [](int pf, int samp) {
        qrl_test::TjEncodeOptions o;
        o.width = 37;
        o.height = 21;
        o.pixel_format = pf;
        o.subsampling = samp;
        return qrl_test::tj_encode(o);
    };
    auto lj = [](JpegLayout layout) {
        qrl_test::LibjpegEncodeOptions o;
        o.width = 24;
        o.height = 17;
        o.layout = layout;
        return qrl_test::libjpeg_encode(o);
    };
    return {
        {"ycc420", tj(TJPF_RGB, TJSAMP_420), 3, COLOR_YCBCR, SUBSAMPLING_2X2, COLOR_BGR, 3},
        {"ycc422", tj(TJPF_RGB, TJSAMP_422), 3, COLOR_YCBCR, SUBSAMPLING_2X1, COLOR_BGR, 3},
        {"ycc444", tj(TJPF_RGB, TJSAMP_444), 3, COLOR_YCBCR, SUBSAMPLING_NONE, COLOR_BGR, 3},
        {"ycc440", tj(TJPF_RGB, TJSAMP_440), 3, COLOR_YCBCR, SUBSAMPLING_OTHER, COLOR_BGR, 3},
        {"gray", tj(TJPF_GRAY, TJSAMP_GRAY), 1, COLOR_GRAY, SUBSAMPLING_NONE, COLOR_BGR, 3},
        {"adobe_rgb", lj(JpegLayout::rgb), 3, COLOR_RGB, SUBSAMPLING_NONE, COLOR_BGR, 3},
        {"adobe_cmyk", lj(JpegLayout::cmyk), 4, COLOR_CMYK, SUBSAMPLING_NONE, COLOR_CMYK, 4},
        {"adobe_ycck", lj(JpegLayout::ycck), 4, COLOR_YCCK, SUBSAMPLING_2X2_4, COLOR_CMYK, 4},
    };
}

TEST(ReadHeader, LayoutsFromMemoryAndFile) {
    for (LayoutCase &c : layout_cases()) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.jpeg.empty());
        const size_t sos = find_marker(c.jpeg, 0xDA);
        for (int mode : {JPEG_IO_READ_HEADER_MEM, JPEG_IO_READ_HEADER_FILE}) {
            SCOPED_TRACE(mode);
            Record rec;
            const std::string path = temp_file(std::string(c.name) + ".jpg", c.jpeg);
            const int32_t result = mode == JPEG_IO_READ_HEADER_MEM ? rec.read_memory(c.jpeg) : rec.read_file(path);
            ASSERT_EQ(result, JPEG_OK);
            const JPEG_CODEC_RECORD &r = *rec.r;
            EXPECT_EQ(r.jpeg_width, c.name[0] == 'a' ? 24 : 37);
            EXPECT_EQ(r.jpeg_height, c.name[0] == 'a' ? 17 : 21);
            EXPECT_EQ(r.jpeg_channels, c.channels);
            EXPECT_EQ(r.jpeg_color, c.jpeg_color);
            EXPECT_EQ(r.jpeg_subsampling, c.subsampling);
            EXPECT_EQ(r.image_color, c.image_color);
            EXPECT_EQ(r.image_channels, c.image_channels);
            EXPECT_EQ(r.thumbnail_width, 0);
            EXPECT_EQ(r.props.input.position, static_cast<int32_t>(sos)) << "position counts the bytes before SOS";
            if (mode == JPEG_IO_READ_HEADER_MEM) {
                EXPECT_EQ(r.props.input.start, c.jpeg.data() + sos) << "start is moved back to the scan header";
            } else {
                // The file is left open at the first scan header.
                ASSERT_NE(r.props.input.file, nullptr);
                uint8_t two[2] = {};
                uint32_t got = 0;
                ASSERT_NE(qrl::read_file(r.props.input.file, two, 2, &got), 0);
                EXPECT_EQ(got, 2u);
                EXPECT_EQ(two[0], 0xFF);
                EXPECT_EQ(two[1], 0xDA);
            }
            std::remove(path.c_str());
        }
    }
}

TEST(ReadHeader, AdobeFactsDoNotCarryOverToTheNextStream) {
    Record rec;
    std::vector<LayoutCase> cases = layout_cases();
    ASSERT_EQ(rec.read_memory(cases[6].jpeg), JPEG_OK); // Adobe CMYK
    EXPECT_EQ(rec.r->jpeg_color, COLOR_CMYK);
    rec.r->image_color = COLOR_RGB;
    rec.r->image_channels = 3;
    rec.r->jpeg_color = COLOR_YCBCR; // the caller's assumption for the next stream
    rec.r->jpeg_channels = 3;
    ASSERT_EQ(rec.read_memory(cases[0].jpeg), JPEG_OK); // JFIF YCbCr, no Adobe segment
    EXPECT_EQ(rec.r->jpeg_color, COLOR_YCBCR);
    EXPECT_EQ(rec.r->jpeg_channels, 3);
    EXPECT_EQ(rec.r->image_color, COLOR_RGB);
}

TEST(ReadHeader, HeaderReadThenFileReadContinueOnOneRecord) {
    // Mode 0 on one file, then mode 0 on another with the same record: the
    // second read must see the second file, not the file left open.
    std::vector<LayoutCase> cases = layout_cases();
    const std::string a = temp_file("first.jpg", cases[0].jpeg);
    const std::string b = temp_file("second.jpg", cases[6].jpeg);
    Record rec;
    ASSERT_EQ(rec.read_file(a), JPEG_OK);
    EXPECT_EQ(rec.r->jpeg_width, 37);
    ASSERT_EQ(rec.read_file(b), JPEG_OK);
    EXPECT_EQ(rec.r->jpeg_width, 24);
    EXPECT_EQ(rec.r->jpeg_channels, 4);
    // A memory read after a file read reads the memory.
    ASSERT_EQ(rec.read_memory(cases[4].jpeg), JPEG_OK);
    EXPECT_EQ(rec.r->jpeg_channels, 1);
    EXPECT_EQ(rec.r->props.input.file, nullptr);
    std::remove(a.c_str());
    std::remove(b.c_str());
}

TEST(ReadHeader, TablesOnlyStreams) {
    Bytes tables = marker(0xD8);
    append(tables, segment(0xDB, dqt_payload(0)));
    append(tables, segment(0xDB, dqt_payload(1)));
    append(tables, segment(0xC4, simple_dht_payload(0, 0)));
    append(tables, segment(0xC4, simple_dht_payload(1, 1)));
    append(tables, marker(0xD9));
    {
        Record rec;
        ASSERT_EQ(rec.read_memory(tables, JPEG_IO_READ_TABLES_MEM), JPEG_OK);
        EXPECT_EQ(rec.r->props.quant_table_count, 2);
        EXPECT_EQ(rec.r->props.huffman_table_bound, 2);
        EXPECT_EQ(rec.r->props.expect_frame, 1);
    }
    {
        // A full stream read as tables stops at its frame header, unread.
        Bytes full = minimal_stream();
        Record rec;
        ASSERT_EQ(rec.read_memory(full, JPEG_IO_READ_TABLES_MEM), JPEG_OK);
        EXPECT_EQ(rec.r->props.expect_frame, 1);
        EXPECT_EQ(rec.r->props.input.position, static_cast<int32_t>(find_marker(full, 0xC0)));
        EXPECT_EQ(rec.r->props.dc_table_count, 1);
    }
    {
        const std::string path = temp_file("tables.jpg", tables);
        Record rec;
        ASSERT_EQ(rec.read_file(path, JPEG_IO_READ_TABLES_FILE), JPEG_OK);
        EXPECT_EQ(rec.r->props.quant_table_count, 2);
        EXPECT_EQ(rec.r->props.input.file, nullptr) << "mode 4 closes the file";
        std::remove(path.c_str());
    }
    {
        // A header read that meets EOI before any scan header has no scan
        // header to move back to, whatever an earlier read left behind.
        Record rec;
        Bytes full = minimal_stream();
        ASSERT_EQ(rec.read_memory(full), JPEG_OK);
        Bytes empty = {0xFF, 0xD8, 0xFF, 0xD9};
        const std::string path = temp_file("empty.jpg", empty);
        EXPECT_EQ(rec.read_file(path), JPEG_OK);
        EXPECT_EQ(rec.read_memory(empty), JPEG_OK);
        EXPECT_EQ(rec.r->props.input.start, rec.r->props.input.cur);
        std::remove(path.c_str());
    }
}

// A stream with a JFIF thumbnail of w x h (pixel bytes 0, 1, 2, ...).
Bytes thumbnail_stream(uint8_t w, uint8_t h, int pixel_bytes = -1) {
    Bytes s = marker(0xD8);
    append(s, segment(0xE0, jfif_payload(w, h, pixel_bytes)));
    const Bytes rest = minimal_stream();
    s.insert(s.end(), rest.begin() + 2, rest.end());
    return s;
}

struct ThumbnailTarget {
    std::vector<uint8_t> pixels;
    ThumbnailTarget(JPEG_CODEC_RECORD *r, int width, int height, int color, int pad = 0)
        : pixels(static_cast<size_t>((width * 3 + pad) * (height < 0 ? -height : height)), 0xEE) {
        r->image_pixels = pixels.data();
        r->image_width = width;
        r->image_height = height;
        r->image_channels = 3;
        r->image_pad_bytes = pad;
        r->image_color = color;
    }
    bool untouched() const {
        for (uint8_t b : pixels)
            if (b != 0xEE) return false;
        return true;
    }
};

TEST(ReadHeader, ThumbnailIsWrittenInModes20And21) {
    Bytes s = thumbnail_stream(4, 3);
    for (int color : {COLOR_BGR, COLOR_RGB}) {
        SCOPED_TRACE(color);
        Record rec;
        ThumbnailTarget t(rec.r.get(), 6, 5, color, 2);
        ASSERT_EQ(rec.read_memory(s, JPEG_IO_THUMBNAIL_MEM), JPEG_OK);
        EXPECT_EQ(rec.r->thumbnail_width, 4);
        EXPECT_EQ(rec.r->thumbnail_height, 3);
        const int line = 6 * 3 + 2;
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 4; ++x) {
                const int i = (y * 4 + x) * 3;
                const uint8_t *p = &t.pixels[static_cast<size_t>(y * line + x * 3)];
                const uint8_t r = static_cast<uint8_t>(i), g = static_cast<uint8_t>(i + 1),
                              b = static_cast<uint8_t>(i + 2);
                if (color == COLOR_RGB) {
                    EXPECT_EQ(p[0], r);
                    EXPECT_EQ(p[2], b);
                } else {
                    EXPECT_EQ(p[0], b) << "red and blue exchanged";
                    EXPECT_EQ(p[2], r);
                }
                EXPECT_EQ(p[1], g);
            }
            EXPECT_EQ(t.pixels[static_cast<size_t>(y * line + 12)], 0xEE) << "beyond the thumbnail row";
        }
        EXPECT_EQ(t.pixels[static_cast<size_t>(3 * line)], 0xEE) << "below the thumbnail";
        EXPECT_EQ(rec.r->props.input.start, s.data() + find_marker(s, 0xDA));
    }
    {
        // File mode 20, bottom-up buffer: thumbnail row 0 lands in the last row.
        const std::string path = temp_file("thumb.jpg", s);
        Record rec;
        ThumbnailTarget t(rec.r.get(), 4, -3, COLOR_RGB);
        ASSERT_EQ(rec.read_file(path, JPEG_IO_THUMBNAIL_FILE), JPEG_OK);
        EXPECT_EQ(t.pixels[2 * 12 + 0], 0);
        EXPECT_EQ(t.pixels[2 * 12 + 1], 1);
        EXPECT_EQ(t.pixels[0], 24) << "thumbnail row 2 is the first buffer row";
        std::remove(path.c_str());
    }
}

TEST(ReadHeader, ThumbnailSizesWithoutPixels) {
    struct Case {
        const char *name;
        Bytes stream;
        int mode;
        int width, height; // caller's image
        int thumb_w, thumb_h;
    };
    const Case cases[] = {
        {"header_mode", thumbnail_stream(4, 3), JPEG_IO_READ_HEADER_MEM, 8, 8, 4, 3},
        {"larger_than_image", thumbnail_stream(4, 3), JPEG_IO_THUMBNAIL_MEM, 3, 8, 4, 3},
        {"taller_than_image", thumbnail_stream(4, 3), JPEG_IO_THUMBNAIL_MEM, 8, -2, 4, 3},
        {"pixels_missing", thumbnail_stream(4, 3, 20), JPEG_IO_THUMBNAIL_MEM, 8, 8, 4, 3},
        {"no_thumbnail", thumbnail_stream(0, 0), JPEG_IO_THUMBNAIL_MEM, 8, 8, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Record rec;
        ThumbnailTarget t(rec.r.get(), c.width, c.height, COLOR_BGR);
        Bytes s = c.stream;
        ASSERT_EQ(rec.read_memory(s, c.mode), JPEG_OK);
        EXPECT_EQ(rec.r->thumbnail_width, c.thumb_w);
        EXPECT_EQ(rec.r->thumbnail_height, c.thumb_h);
        EXPECT_TRUE(t.untouched());
    }
    // Sizes reported for one stream are not reported for the next.
    Record rec;
    Bytes with = thumbnail_stream(4, 3), without = minimal_stream();
    ASSERT_EQ(rec.read_memory(with), JPEG_OK);
    EXPECT_EQ(rec.r->thumbnail_width, 4);
    ASSERT_EQ(rec.read_memory(without), JPEG_OK);
    EXPECT_EQ(rec.r->thumbnail_width, 0);
    EXPECT_EQ(rec.r->thumbnail_height, 0);
}

TEST(ReadHeader, JfxxThumbnails) {
    // Code 0x13: three bytes per pixel; code 0x11: a palette index per pixel.
    Bytes rgb = {0x4A, 0x46, 0x58, 0x58, 0x00, 0x13, 2, 2};
    for (int i = 0; i < 12; ++i) rgb.push_back(static_cast<uint8_t>(10 + i));
    Bytes pal = {0x4A, 0x46, 0x58, 0x58, 0x00, 0x11, 2, 1};
    for (int i = 0; i < 768; ++i) pal.push_back(static_cast<uint8_t>(i / 3 + (i % 3) * 50));
    pal.push_back(7);
    pal.push_back(100);
    const Bytes base = minimal_stream();
    {
        Bytes s = with_segment_after_soi(base, segment(0xE0, rgb));
        Record rec;
        ThumbnailTarget t(rec.r.get(), 2, 2, COLOR_BGR);
        ASSERT_EQ(rec.read_memory(s, JPEG_IO_THUMBNAIL_MEM), JPEG_OK);
        EXPECT_EQ(rec.r->thumbnail_width, 2);
        EXPECT_EQ(rec.r->thumbnail_height, 2);
        EXPECT_EQ(t.pixels[0], 12);
        EXPECT_EQ(t.pixels[2], 10);
        EXPECT_EQ(t.pixels[9 + 0], 21);
    }
    {
        Bytes s = with_segment_after_soi(base, segment(0xE0, pal));
        Record rec;
        ThumbnailTarget t(rec.r.get(), 2, 1, COLOR_RGB);
        ASSERT_EQ(rec.read_memory(s, JPEG_IO_THUMBNAIL_MEM), JPEG_OK);
        EXPECT_EQ(rec.r->thumbnail_width, 2);
        EXPECT_EQ(rec.r->thumbnail_height, 1);
        EXPECT_EQ(t.pixels[0], 7);
        EXPECT_EQ(t.pixels[1], 57);
        EXPECT_EQ(t.pixels[2], 107);
        EXPECT_EQ(t.pixels[3], 100);
        // Mode 1 does not record a palette thumbnail.
        Record rec1;
        ASSERT_EQ(rec1.read_memory(s), JPEG_OK);
        EXPECT_EQ(rec1.r->thumbnail_width, 0);
    }
}

TEST(ReadHeader, CommentBuffer) {
    Bytes text(100, 'c');
    for (int i = 0; i < 100; ++i) text[static_cast<size_t>(i)] = static_cast<uint8_t>('a' + i % 26);
    Bytes s = with_segment_after_soi(minimal_stream(), segment(0xFE, text));
    {
        Record rec;
        uint8_t buffer[48];
        std::memset(buffer, 0, sizeof buffer);
        rec.r->props.jpeg_comment = buffer;
        rec.r->props.jpeg_comment_size = 40;
        EXPECT_EQ(rec.read_memory(s), JPEG_COMMENT_ACCESS_ERROR);
        EXPECT_EQ(rec.r->props.jpeg_comment_size, 100) << "the size needed";
        EXPECT_EQ(std::memcmp(buffer, text.data(), 40), 0);
        EXPECT_EQ(buffer[40], 0) << "nothing past the capacity";
    }
    {
        Record rec;
        uint8_t buffer[200] = {};
        rec.r->props.jpeg_comment = buffer;
        rec.r->props.jpeg_comment_size = sizeof buffer;
        EXPECT_EQ(rec.read_memory(s), JPEG_OK);
        EXPECT_EQ(rec.r->props.jpeg_comment_size, 100);
        EXPECT_EQ(std::memcmp(buffer, text.data(), 100), 0);
        EXPECT_EQ(buffer[100], 0) << "no terminating byte is added";
    }
    {
        Record rec;
        rec.r->props.jpeg_comment = reinterpret_cast<uint8_t *>(uintptr_t{16});
        rec.r->props.jpeg_comment_size = 200;
        EXPECT_EQ(rec.read_memory(s), JPEG_COMMENT_ACCESS_ERROR) << "an unwritable buffer";
    }
}

TEST(ReadHeader, CallerErrors) {
    Bytes s = minimal_stream();
    {
        Record rec;
        rec.r->jpeg_buffer = s.data();
        rec.r->jpeg_buffer_size = -1;
        EXPECT_EQ(codec_read(rec.r.get(), JPEG_IO_READ_HEADER_MEM), JPEG_INVALID_PROPERTIES);
    }
    {
        Record rec;
        EXPECT_EQ(rec.read_file("/nonexistent/quorrel.jpg"), JPEG_INVALID_FILE_NAME);
        std::vector<uint8_t> pixels(64 * 3);
        rec.r->image_pixels = pixels.data();
        rec.r->image_width = 8;
        rec.r->image_height = 8;
        EXPECT_EQ(rec.read_file("/nonexistent/quorrel.jpg", JPEG_IO_DECODE_FILE), JPEG_INVALID_FILE_NAME);
    }
    {
        Record rec;
        EXPECT_EQ(rec.read_memory(s, JPEG_IO_ENCODE_MEM), JPEG_INVALID_PROPERTIES) << "a write mode";
        EXPECT_EQ(rec.read_memory(s, 22), JPEG_INVALID_PROPERTIES);
    }
}

// SOI, tables for ids 0, the given frame and scan, a little data, EOI.
Bytes stream_with_frame(const Bytes &frame, const Bytes &scan) {
    Bytes s = marker(0xD8);
    append(s, segment(0xDB, dqt_payload(0)));
    append(s, segment(0xC4, simple_dht_payload(0, 0)));
    append(s, segment(0xC4, simple_dht_payload(1, 0)));
    append(s, frame);
    append(s, scan);
    s.insert(s.end(), 16, 0x00);
    append(s, marker(0xD9));
    return s;
}

// A progressive frame with a DC scan header; the entropy data is two bytes.
Bytes progressive_stream(uint16_t width, uint16_t height) {
    Bytes s = marker(0xD8);
    append(s, segment(0xDB, dqt_payload(0)));
    append(s, segment(0xC4, simple_dht_payload(0, 0)));
    append(s, segment(0xC2, sof_payload(width, height, {{1, 0x22, 0}, {2, 0x11, 0}, {3, 0x11, 0}})));
    append(s, segment(0xDA, sos_payload({{1, 0x00}, {2, 0x00}, {3, 0x00}}, 0, 0, 0x01)));
    append(s, {0x00, 0x00});
    append(s, marker(0xD9));
    return s;
}

TEST(DecodeDriver, HugeFrameIsRefusedWithoutAllocating) {
    Bytes s = progressive_stream(65535, 65535);
    Record rec;
    std::vector<uint8_t> pixels(3 * 16);
    rec.r->image_pixels = pixels.data();
    rec.r->image_width = 4;
    rec.r->image_height = 4;
    rec.r->image_color = COLOR_RGB;
    EXPECT_EQ(rec.read_memory(s, JPEG_IO_DECODE_MEM), JPEG_MEMORY_ERROR);
    EXPECT_EQ(rec.r->props.coefficient_buffer, nullptr);
    EXPECT_EQ(rec.r->props.current_scan, nullptr);
}

TEST(DecodeDriver, EachFrameGetsACoefficientBufferOfItsOwnSize) {
    // One record reads and decodes a small progressive image and then a
    // larger one (a header read, then a decode, as the plug-in does): the
    // second frame header starts a new image, so the scan count restarts and
    // the buffer is sized for the new frame.
    Record rec;
    std::vector<uint8_t> pixels(3 * 64 * 64);
    Bytes small = progressive_stream(16, 16);
    Bytes large = progressive_stream(64, 48);
    const struct {
        Bytes *stream;
        int32_t blocks;
    } images[] = {{&small, 6}, {&large, 6 * 4 * 3}};
    for (const auto &image : images) {
        SCOPED_TRACE(image.blocks);
        rec.r->image_color = COLOR_RGB;
        rec.r->image_channels = 3;
        rec.r->jpeg_color = COLOR_YCBCR;
        rec.r->jpeg_channels = 3;
        ASSERT_EQ(rec.read_memory(*image.stream), JPEG_OK);
        EXPECT_EQ(rec.r->props.scans_done, 0);
        EXPECT_EQ(rec.r->props.coefficient_buffer, nullptr);
        rec.r->image_pixels = pixels.data();
        rec.r->image_width = 64;
        rec.r->image_height = 64;
        const int32_t result = rec.read_memory(*image.stream, JPEG_IO_DECODE_MEM);
        EXPECT_EQ(rec.r->props.current_scan, nullptr) << result;
        EXPECT_EQ(rec.r->props.coefficient_buffer_blocks, image.blocks);
        EXPECT_EQ(rec.r->props.scans_done, 0) << "a finished decode leaves scans_done at 0";
    }
}

TEST(DecodeDriver, ProgressiveImageDecodedTwiceOnOneRecord) {
    // No header read in between: the second decode meets the SOF2 with the
    // frame known (it is skipped), and must still start from clear
    // coefficients rather than refine those of the first decode.
    qrl_test::TjEncodeOptions o;
    o.width = 40;
    o.height = 24;
    o.flags = TJFLAG_PROGRESSIVE;
    std::vector<uint8_t> jpeg = qrl_test::tj_encode(o);
    ASSERT_FALSE(jpeg.empty());
    Record rec;
    std::vector<uint8_t> first(40 * 24 * 3, 0), second(40 * 24 * 3, 0);
    std::vector<int32_t> scans;
    for (std::vector<uint8_t> *out : {&first, &second}) {
        rec.r->image_pixels = out->data();
        rec.r->image_width = 40;
        rec.r->image_height = 24;
        rec.r->image_color = COLOR_RGB;
        ASSERT_EQ(rec.read_memory(jpeg, JPEG_IO_DECODE_MEM), JPEG_OK);
        scans.push_back(rec.r->props.scans_done);
    }
    EXPECT_EQ(first, second);
    // Each finished decode leaves scans_done at 0 (it would otherwise select
    // the progressive encoder for a following write on the record).
    EXPECT_EQ(scans[0], 0);
    EXPECT_EQ(scans[1], 0);
    const qrl_test::DecodedImage ref = qrl_test::tj_decode(jpeg, TJPF_RGB, qrl_test::kTjAccurate);
    ASSERT_TRUE(ref.ok()) << ref.error;
    EXPECT_TRUE(qrl_test::images_close("twice_progressive", second.data(), 0, ref.pixels.data(), 0, 40, 24, 3,
                                       qrl_test::Limits{4, 0.5, 0.0}));
}

// A gray baseline frame of w x h with `scans` scans of zero bits (each block
// decodes from four 0 bits with these tables: DC 0, then EOB).
Bytes gray_scans(uint16_t w, uint16_t h, int scans) {
    Bytes s = marker(0xD8);
    append(s, segment(0xDB, dqt_payload(0)));
    append(s, segment(0xC4, simple_dht_payload(0, 0)));
    append(s, segment(0xC4, simple_dht_payload(1, 0)));
    append(s, segment(0xC0, sof_payload(w, h, {{1, 0x11, 0}})));
    const size_t data = (static_cast<size_t>(w + 7) / 8) * ((h + 7) / 8) / 2 + 1;
    for (int i = 0; i < scans; ++i) {
        append(s, segment(0xDA, sos_payload({{1, 0x00}})));
        s.insert(s.end(), data, 0x00);
    }
    append(s, marker(0xD9));
    return s;
}

TEST(DecodeDriver, ImageModeRefusals) {
    struct Case {
        const char *name;
        Bytes stream;
        int32_t header; // mode 1
        int32_t decode; // mode 3
    };
    Bytes fractional = stream_with_frame(
        segment(0xC0, sof_payload(48, 16, {{1, 0x22, 0}, {2, 0x31, 0}, {3, 0x11, 0}})),
        segment(0xDA, sos_payload({{1, 0x00}, {2, 0x00}, {3, 0x00}})));
    Bytes sixteen_blocks = stream_with_frame(
        segment(0xC0, sof_payload(16, 16, {{1, 0x22, 0}, {2, 0x22, 0}, {3, 0x22, 0}, {4, 0x22, 0}})),
        segment(0xDA, sos_payload({{1, 0x00}, {2, 0x00}, {3, 0x00}, {4, 0x00}})));
    const Case cases[] = {
        // The header still reads; the output stage cannot serve the layout.
        {"fractional_sampling", fractional, JPEG_OK, JPEG_DATA_ERROR},
        {"sixteen_blocks_per_mcu", sixteen_blocks, JPEG_OK, JPEG_DATA_ERROR},
        // At most 500 scans per call.
        {"500_scans", gray_scans(64, 64, 500), JPEG_OK, JPEG_OK},
        {"501_scans", gray_scans(64, 64, 501), JPEG_OK, JPEG_MEMORY_ERROR},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Record rec;
        Bytes s = c.stream;
        EXPECT_EQ(rec.read_memory(s), c.header);
        std::vector<uint8_t> pixels(64 * 64 * 4);
        rec.r->image_pixels = pixels.data();
        rec.r->image_width = 64;
        rec.r->image_height = 64;
        rec.r->image_color = rec.r->jpeg_channels == 1 ? COLOR_GRAY : COLOR_CMYK;
        rec.r->image_channels = rec.r->jpeg_channels == 1 ? 1 : 4;
        if (rec.r->jpeg_channels == 4) rec.r->jpeg_color = COLOR_CMYK; // no Adobe segment to tell
        if (rec.r->jpeg_channels == 3) {
            rec.r->image_color = COLOR_RGB;
            rec.r->image_channels = 3;
        }
        EXPECT_EQ(rec.read_memory(s, JPEG_IO_DECODE_MEM), c.decode);
        EXPECT_EQ(rec.r->props.current_scan, nullptr);
    }
}

TEST(DecodeDriver, InterruptedDecodeResumesTheWholeImage) {
    // roi holds the MCU reached after each interrupt; the caller does not
    // clear it, and the resumed calls must still decode the whole image.
    qrl_test::TjEncodeOptions o;
    o.width = 40;
    o.height = 24;
    std::vector<uint8_t> jpeg = qrl_test::tj_encode(o);
    ASSERT_FALSE(jpeg.empty());
    std::vector<uint8_t> whole(40 * 24 * 3, 0), pieces(40 * 24 * 3, 0);
    {
        Record rec;
        rec.r->image_pixels = whole.data();
        rec.r->image_width = 40;
        rec.r->image_height = 24;
        rec.r->image_color = COLOR_RGB;
        ASSERT_EQ(rec.read_memory(jpeg, JPEG_IO_DECODE_MEM), JPEG_OK);
    }
    Record rec;
    rec.r->image_pixels = pieces.data();
    rec.r->image_width = 40;
    rec.r->image_height = 24;
    rec.r->image_color = COLOR_RGB;
    int interrupts = 0;
    int32_t result = JPEG_INTERRUPT_OK;
    while (result == JPEG_INTERRUPT_OK && interrupts < 100) {
        rec.r->props.interrupt_after_mcu = 1;
        result = rec.read_memory(jpeg, JPEG_IO_DECODE_MEM);
        if (result == JPEG_INTERRUPT_OK) {
            ++interrupts;
            EXPECT_GT(rec.r->props.roi[2], 0) << "right edge of the MCU reached, in pixels";
        }
    }
    EXPECT_EQ(result, JPEG_OK);
    EXPECT_EQ(interrupts, 3 * 2 - 1);
    EXPECT_EQ(pieces, whole);
}

TEST(DecodeDriver, ProgressiveImageCutAfterItsFirstScanIsStillOutput) {
    // Only the DC scan arrives: the image is output at EOI from the DC
    // coefficients, whatever the buffer held before.
    qrl_test::TjEncodeOptions o;
    o.width = 48;
    o.height = 32;
    o.flags = TJFLAG_PROGRESSIVE;
    const std::vector<uint8_t> jpeg = qrl_test::tj_encode(o);
    ASSERT_FALSE(jpeg.empty());
    const size_t first_sos = find_marker(jpeg, 0xDA);
    size_t second_sos = std::string::npos;
    for (size_t i = first_sos + 2; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xDA || jpeg[i + 1] == 0xC4)) {
            second_sos = i;
            break;
        }
    }
    ASSERT_NE(second_sos, std::string::npos);
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<long>(second_sos));
    append(cut, marker(0xD9));
    std::vector<std::vector<uint8_t>> outputs;
    for (uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
        for (int dct : {1, 0}) {
            Record rec;
            std::vector<uint8_t> pixels(48 * 32 * 3, fill);
            rec.r->image_pixels = pixels.data();
            rec.r->image_width = 48;
            rec.r->image_height = 32;
            rec.r->image_color = COLOR_RGB;
            rec.r->props.dct_method = dct;
            ASSERT_EQ(rec.read_memory(cut, JPEG_IO_DECODE_MEM), JPEG_OK);
            if (dct == 1) outputs.push_back(pixels);
        }
    }
    EXPECT_EQ(outputs[0], outputs[1]) << "every pixel is written";
    const qrl_test::DecodedImage ref = qrl_test::tj_decode(cut, TJPF_RGB, qrl_test::kTjAccurate);
    ASSERT_TRUE(ref.ok()) << ref.error;
    const qrl_test::DiffStats d =
        qrl_test::compare_images(outputs[0].data(), 0, ref.pixels.data(), 0, 48, 32, 3);
    EXPECT_GT(d.psnr, 18.0) << "close to the reference's view of the same DC-only image";
}

TEST(DecodeDriver, ImageModeEoiBeforeTheFirstScan) {
    // The frame is known (from the header read, or from this stream) but the
    // stream ends before any scan: no image, not a success.
    Bytes s = marker(0xD8);
    append(s, segment(0xDB, dqt_payload(0)));
    append(s, segment(0xC4, simple_dht_payload(0, 0)));
    append(s, segment(0xC4, simple_dht_payload(1, 0)));
    append(s, segment(0xC0, sof_payload(16, 16, {{1, 0x11, 0}})));
    append(s, marker(0xD9));
    const std::string path = temp_file("eoi_first.jpg", s);
    for (int mode : {JPEG_IO_DECODE_MEM, JPEG_IO_DECODE_FILE}) {
        Record rec;
        std::vector<uint8_t> pixels(16 * 16);
        rec.r->image_pixels = pixels.data();
        rec.r->image_width = 16;
        rec.r->image_height = 16;
        rec.r->image_color = COLOR_GRAY;
        rec.r->image_channels = 1;
        rec.r->jpeg_color = COLOR_GRAY;
        rec.r->jpeg_channels = 1;
        rec.r->jpeg_file_name = path.c_str();
        EXPECT_EQ(rec.read_memory(s, mode), JPEG_NO_IMAGE) << mode;
        EXPECT_EQ(rec.read_memory(s, mode - 2), JPEG_NO_IMAGE) << "header read, mode " << mode - 2;
    }
    std::remove(path.c_str());
}

TEST(DecodeDriver, ImageModeEoiBeforeAnyFrame) {
    Bytes s = marker(0xD8);
    append(s, segment(0xDB, dqt_payload(0)));
    append(s, marker(0xD9));
    append(s, marker(0xC4));
    Record rec;
    std::vector<uint8_t> pixels(3 * 16);
    rec.r->image_pixels = pixels.data();
    rec.r->image_width = 4;
    rec.r->image_height = 4;
    EXPECT_EQ(rec.read_memory(s, JPEG_IO_DECODE_MEM), JPEG_NO_IMAGE);
}

TEST(ReadHeader, TruncatedAndDamagedStreamsGiveACode) {
    // Every prefix of a small file, and the file with each byte replaced by
    // 0xFF or 0x00, read as a header and decoded: each read returns a code
    // (the sanitizer builds check that nothing is touched outside the data).
    qrl_test::TjEncodeOptions o;
    o.width = 20;
    o.height = 12;
    o.flags = TJFLAG_PROGRESSIVE;
    const std::vector<uint8_t> jpeg = qrl_test::tj_encode(o);
    ASSERT_FALSE(jpeg.empty());
    Record rec;
    std::vector<uint8_t> pixels(20 * 12 * 3);
    auto read_both = [&](std::vector<uint8_t> data) {
        rec.r->jpeg_color = COLOR_YCBCR;
        rec.r->jpeg_channels = 3;
        rec.r->image_color = COLOR_RGB;
        rec.r->image_channels = 3;
        const int32_t header = rec.read_memory(data);
        EXPECT_LE(header, JPEG_ROI_OK);
        rec.r->image_pixels = pixels.data();
        rec.r->image_width = 20;
        rec.r->image_height = 12;
        const int32_t decode = rec.read_memory(data, JPEG_IO_DECODE_MEM);
        EXPECT_LE(decode, JPEG_ROI_OK);
    };
    for (size_t n = 1; n < jpeg.size(); ++n) read_both(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + n));
    for (size_t i = 2; i < jpeg.size(); ++i) {
        for (uint8_t value : {uint8_t{0xFF}, uint8_t{0x00}}) {
            std::vector<uint8_t> damaged = jpeg;
            damaged[i] = value;
            read_both(damaged);
        }
    }
}

// ---- Corpus -----------------------------------------------------------------
struct ManifestRow {
    std::string category;
    int width = 0, height = 0, components = 0, precision = 0;
    std::string sof;
};

std::map<std::string, ManifestRow> read_manifest(const std::string &dir) {
    std::map<std::string, ManifestRow> rows;
    std::ifstream in(dir + "/MANIFEST.tsv");
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, '\t')) f.push_back(field);
        if (f.size() < 11) continue;
        ManifestRow row;
        row.category = f[0].substr(0, f[0].find('/'));
        row.sof = f[6];
        row.precision = std::atoi(f[7].c_str());
        row.width = std::atoi(f[8].c_str());
        row.height = std::atoi(f[9].c_str());
        row.components = std::atoi(f[10].c_str());
        rows[f[0]] = row;
    }
    return rows;
}

TEST(ReadHeaderCorpus, EveryFileInModes1And0) {
    const std::string dir = qrl_test::corpus_dir();
    if (dir.empty()) GTEST_SKIP() << "skipped: the shared corpus is not present";
    const std::map<std::string, ManifestRow> manifest = read_manifest(dir);
    ASSERT_FALSE(manifest.empty());
    int checked = 0;
    for (const auto &[name, row] : manifest) {
        SCOPED_TRACE(name);
        const std::string path = dir + "/" + name;
        std::vector<uint8_t> bytes = qrl_test::read_file_bytes(path);
        if (bytes.empty()) continue;
        Record rec;
        const int32_t memory_result = rec.read_memory(bytes);
        Record rec_file;
        const int32_t file_result = rec_file.read_file(path);
        EXPECT_EQ(memory_result, file_result);
        if (row.category == "refused") {
            const bool huffman_8bit = (row.sof == "C0" || row.sof == "C1" || row.sof == "C2") && row.precision == 8;
            const int32_t expected = huffman_8bit && row.height == 0 ? JPEG_ERR_DNL : JPEG_UNSUPPORTED_FRAME;
            EXPECT_EQ(memory_result, expected);
        } else if (row.category == "corrupt") {
            if (memory_result == JPEG_OK && row.width > 0) {
                EXPECT_EQ(rec.r->jpeg_width, row.width);
            }
        } else {
            ASSERT_EQ(memory_result, JPEG_OK) << codec_error_text(memory_result);
            EXPECT_EQ(rec.r->jpeg_width, row.width);
            EXPECT_EQ(rec.r->jpeg_height, row.height);
            EXPECT_EQ(rec.r->jpeg_channels, row.components);
            EXPECT_EQ(rec_file.r->jpeg_width, row.width);
            EXPECT_EQ(rec_file.r->jpeg_height, row.height);
            EXPECT_EQ(rec_file.r->jpeg_channels, row.components);
        }
        ++checked;
    }
    EXPECT_GT(checked, 300);
}

} // namespace
