// Round trips of the encoder: streams written by codec_write decoded with the
// reference decoder and compared with the source pixels and with the
// reference encoder's result at the same settings; abbreviated pairs,
// interrupted encodes, bottom-up and padded sources, refused requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "encode_test_util.h"
#include "support/corpus.h"
#include "support/oracle.h"

using namespace qrl_test;

namespace {

std::vector<uint8_t> swap_rb(std::vector<uint8_t> px) {
    for (size_t i = 0; i + 2 < px.size(); i += 3) std::swap(px[i], px[i + 2]);
    return px;
}

TEST(EncoderRoundTrip, SmoothRgb444Quality90ReachesForty) {
    WriteSpec s;
    s.width = 64;
    s.height = 48;
    const auto rgb = smooth_pixels(s.width, s.height, 3);
    const Encoded e = encode_memory(s, rgb);
    ASSERT_EQ(e.result, JPEG_OK);
    const DecodedImage d = tj_decode(e.bytes, TJPF_RGB, kTjAccurate);
    ASSERT_TRUE(d.ok()) << d.error;
    ASSERT_EQ(d.width, s.width);
    ASSERT_EQ(d.height, s.height);
    const DiffStats st = compare_images(d.pixels.data(), 0, rgb.data(), 0, s.width, s.height, 3);
    EXPECT_GE(st.psnr, 40.0);
}

// One layout: what we write, how the reference decodes it, and the reference
// encoder's equivalent (tj_subsampling -1: none, then min_psnr applies alone).
struct LayoutCase {
    const char *name;
    int32_t image_color, image_channels, jpeg_color, jpeg_channels, subsampling;
    bool progressive;
    int32_t restart;
    int32_t dct_method;
    int tj_format;      // decode (and reference input) format
    int tj_subsampling; // reference encode, -1 = none
    double min_psnr;    // against the source
};

const LayoutCase kLayouts[] = {
    {"rgb444", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_NONE, false, 0, 1, TJPF_RGB, TJSAMP_444, 30},
    {"rgb420", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X2, false, 0, 1, TJPF_RGB, TJSAMP_420, 24},
    {"rgb422", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X1, false, 0, 1, TJPF_RGB, TJSAMP_422, 24},
    {"bgr420", COLOR_BGR, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X2, false, 0, 1, TJPF_BGR, TJSAMP_420, 24},
    {"bgr444fast", COLOR_BGR, 3, COLOR_YCBCR, 3, SUBSAMPLING_NONE, false, 0, 0, TJPF_BGR, TJSAMP_444, 30},
    {"rgb420fast", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X2, false, 0, 0, TJPF_RGB, TJSAMP_420, 24},
    {"rgb_to_gray", COLOR_RGB, 3, COLOR_GRAY, 1, SUBSAMPLING_NONE, false, 0, 1, TJPF_RGB, TJSAMP_GRAY, 0},
    {"gray", COLOR_GRAY, 1, COLOR_GRAY, 1, SUBSAMPLING_NONE, false, 0, 1, TJPF_GRAY, TJSAMP_GRAY, 30},
    {"cmyk_ycck", COLOR_CMYK, 4, COLOR_YCCK, 4, SUBSAMPLING_NONE, false, 0, 1, TJPF_CMYK, TJSAMP_444, 30},
    {"cmyk_ycck420", COLOR_CMYK, 4, COLOR_YCCK, 4, SUBSAMPLING_2X2_4, false, 0, 1, TJPF_CMYK, TJSAMP_420, 24},
    {"cmyk_ycck422", COLOR_CMYK, 4, COLOR_YCCK, 4, SUBSAMPLING_2X1_4, false, 0, 1, TJPF_CMYK, TJSAMP_422, 24},
    {"cmyk_cmyk", COLOR_CMYK, 4, COLOR_CMYK, 4, SUBSAMPLING_NONE, false, 0, 1, TJPF_CMYK, -1, 28},
    {"rgb_rgb", COLOR_RGB, 3, COLOR_RGB, 3, SUBSAMPLING_NONE, false, 0, 1, TJPF_RGB, -1, 28},
    {"restart1", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X2, false, 1, 1, TJPF_RGB, TJSAMP_420, 24},
    {"restart7", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_NONE, false, 7, 1, TJPF_RGB, TJSAMP_444, 30},
    {"prog420", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X2, true, 0, 1, TJPF_RGB, TJSAMP_420, 24},
    {"prog444", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_NONE, true, 0, 1, TJPF_RGB, TJSAMP_444, 30},
    {"prog_gray", COLOR_GRAY, 1, COLOR_GRAY, 1, SUBSAMPLING_NONE, true, 0, 1, TJPF_GRAY, TJSAMP_GRAY, 30},
    {"prog_ycck", COLOR_CMYK, 4, COLOR_YCCK, 4, SUBSAMPLING_2X2_4, true, 0, 1, TJPF_CMYK, TJSAMP_420, 24},
    {"prog_cmyk", COLOR_CMYK, 4, COLOR_CMYK, 4, SUBSAMPLING_NONE, true, 0, 1, TJPF_CMYK, -1, 28},
    {"prog_rgb", COLOR_RGB, 3, COLOR_RGB, 3, SUBSAMPLING_NONE, true, 0, 1, TJPF_RGB, -1, 28},
    {"prog_restart", COLOR_RGB, 3, COLOR_YCBCR, 3, SUBSAMPLING_2X2, true, 3, 1, TJPF_RGB, TJSAMP_420, 24},
    {"gray_to_ycc420", COLOR_GRAY, 1, COLOR_YCBCR, 3, SUBSAMPLING_2X2, false, 0, 1, TJPF_GRAY, -1, 30},
    {"gray_to_ycc444", COLOR_GRAY, 1, COLOR_YCBCR, 3, SUBSAMPLING_NONE, true, 0, 1, TJPF_GRAY, -1, 30},
    {"bgr_to_rgb", COLOR_BGR, 3, COLOR_RGB, 3, SUBSAMPLING_NONE, false, 0, 1, TJPF_BGR, -1, 28},
    {"bgr_to_rgb420", COLOR_BGR, 3, COLOR_RGB, 3, SUBSAMPLING_2X2, false, 0, 1, TJPF_BGR, -1, 22},
    {"bgr_to_gray", COLOR_BGR, 3, COLOR_GRAY, 1, SUBSAMPLING_NONE, false, 0, 0, TJPF_BGR, TJSAMP_GRAY, 0},
    {"cmyk_cmyk420", COLOR_CMYK, 4, COLOR_CMYK, 4, SUBSAMPLING_2X2_4, false, 0, 1, TJPF_CMYK, -1, 22},
};

class EncoderLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(EncoderLayouts, DecodesLikeTheReferenceEncoder) {
    const LayoutCase &c = GetParam();
    // Odd sizes make the right and bottom MCUs partial.
    WriteSpec s;
    s.width = 53;
    s.height = 37;
    s.image_color = c.image_color;
    s.image_channels = c.image_channels;
    s.jpeg_color = c.jpeg_color;
    s.jpeg_channels = c.jpeg_channels;
    s.jpeg_subsampling = c.subsampling;
    s.progressive = c.progressive;
    s.restart_interval = c.restart;
    s.dct_method = c.dct_method;
    const int ch = tj_pixel_size(c.tj_format);
    std::vector<uint8_t> source = synthetic_pixels(s.width, s.height, c.tj_format == TJPF_GRAY ? 1 : ch == 4 ? 4 : 3);
    if (c.tj_format == TJPF_BGR) source = swap_rb(source);
    const Encoded e = encode_memory(s, source);
    ASSERT_EQ(e.result, JPEG_OK) << c.name;
    const int out_format = c.jpeg_channels == 1 && c.tj_format != TJPF_GRAY ? TJPF_GRAY : c.tj_format;
    const DecodedImage d = tj_decode(e.bytes, out_format, c.dct_method == 1 ? kTjAccurate : kTjFast);
    ASSERT_TRUE(d.ok()) << c.name << ": " << d.error;
    ASSERT_EQ(d.width, s.width);
    ASSERT_EQ(d.height, s.height);
    ASSERT_EQ(d.channels, tj_pixel_size(out_format));
    if (c.tj_subsampling >= 0) {
        const std::vector<uint8_t> ref_jpeg =
            tj_encode_pixels(source.data(), s.width, s.height, c.tj_format, c.tj_subsampling, s.quality,
                             (c.progressive ? TJFLAG_PROGRESSIVE : 0) |
                                 (c.dct_method == 1 ? TJFLAG_ACCURATEDCT : TJFLAG_FASTDCT));
        const DecodedImage ref = tj_decode(ref_jpeg, out_format, c.dct_method == 1 ? kTjAccurate : kTjFast);
        ASSERT_TRUE(ref.ok()) << ref.error;
        // Same pixels within the rounding differences of two encoders.
        const DiffStats between = compare_images(d.pixels.data(), 0, ref.pixels.data(), 0, s.width, s.height,
                                                 d.channels);
        EXPECT_GE(between.psnr, 36.0) << c.name << " max " << between.max_abs;
        if (c.jpeg_channels != 1) {
            const DiffStats ours = compare_images(d.pixels.data(), 0, source.data(), 0, s.width, s.height, d.channels);
            const DiffStats theirs = compare_images(ref.pixels.data(), 0, source.data(), 0, s.width, s.height, d.channels);
            EXPECT_GE(ours.psnr, theirs.psnr - 0.5) << c.name;
        }
    }
    if (c.min_psnr > 0) {
        const DiffStats st = compare_images(d.pixels.data(), 0, source.data(), 0, s.width, s.height, d.channels);
        EXPECT_GE(st.psnr, c.min_psnr) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, EncoderLayouts, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<LayoutCase> &p) { return std::string(p.param.name); });

} // namespace

namespace {

// Encodes `s` on the given record into `buffer`, returning the result.
int32_t write_with(JPEG_CODEC_RECORD *r, const WriteSpec &s, std::vector<uint8_t> &laid,
                   std::vector<uint8_t> &buffer, int32_t mode) {
    describe(r, s, laid.data(), buffer.data(), static_cast<int32_t>(buffer.size()));
    return codec_write(r, mode);
}

TEST(EncoderStreams, BottomUpAndPaddedSourcesGiveTheSameStream) {
    WriteSpec s;
    s.width = 37;
    s.height = 29;
    s.jpeg_subsampling = SUBSAMPLING_2X2;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    const Encoded plain = encode_memory(s, rgb);
    ASSERT_EQ(plain.result, JPEG_OK);
    for (int variant = 0; variant < 3; ++variant) {
        WriteSpec v = s;
        v.bottom_up = variant != 1;
        v.pad_bytes = variant == 0 ? 0 : 5;
        const Encoded e = encode_memory(v, rgb);
        ASSERT_EQ(e.result, JPEG_OK);
        EXPECT_EQ(e.bytes, plain.bytes) << "variant " << variant;
    }
}

TEST(EncoderStreams, InterruptedEncodeGivesTheSameBytes) {
    for (const int32_t restart : {0, 2}) {
        WriteSpec s;
        s.width = 40;
        s.height = 24;
        s.jpeg_subsampling = SUBSAMPLING_2X1;
        s.restart_interval = restart;
        const auto rgb = synthetic_pixels(s.width, s.height, 3);
        const Encoded whole = encode_memory(s, rgb);
        ASSERT_EQ(whole.result, JPEG_OK);

        Record r = make_record();
        std::vector<uint8_t> laid = lay_out_rows(rgb, s);
        std::vector<uint8_t> buffer(65536);
        describe(r.get(), s, laid.data(), buffer.data(), static_cast<int32_t>(buffer.size()));
        const int32_t mcus = 3 * 3; // 16x8 MCUs: 3 columns, 3 rows
        int32_t calls = 0, result = JPEG_INTERRUPT_OK;
        while (result == JPEG_INTERRUPT_OK && calls < 100) {
            r->props.interrupt_after_mcu = 1;
            result = codec_write(r.get(), JPEG_IO_ENCODE_MEM);
            ++calls;
            if (result == JPEG_INTERRUPT_OK) {
                EXPECT_GT(r->props.roi[2], 0);
                EXPECT_LE(r->props.roi[2], s.width);
                EXPECT_LE(r->props.roi[3], s.height);
            }
        }
        EXPECT_EQ(result, JPEG_OK);
        EXPECT_EQ(calls, mcus); // the last MCU's call completes the stream
        buffer.resize(static_cast<size_t>(r->jpeg_buffer_size));
        EXPECT_EQ(buffer, whole.bytes) << "restart " << restart;
    }
}

TEST(EncoderStreams, TablesOnlyThenImageOnlyConcatenateToTheCompleteStream) {
    WriteSpec s;
    s.width = 33;
    s.height = 17;
    s.jpeg_subsampling = SUBSAMPLING_2X2;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    const Encoded whole = encode_memory(s, rgb);
    ASSERT_EQ(whole.result, JPEG_OK);

    Record r = make_record();
    std::vector<uint8_t> laid = lay_out_rows(rgb, s);
    std::vector<uint8_t> tables(4096), image(65536);
    ASSERT_EQ(write_with(r.get(), s, laid, tables, JPEG_IO_WRITE_TABLES_MEM), JPEG_OK);
    tables.resize(static_cast<size_t>(r->jpeg_buffer_size));
    ASSERT_GE(tables.size(), 4u);
    EXPECT_EQ(tables[tables.size() - 2], 0xFF);
    EXPECT_EQ(tables[tables.size() - 1], 0xD9);
    ASSERT_EQ(write_with(r.get(), s, laid, image, JPEG_IO_ENCODE_IMAGE_ONLY_MEM), JPEG_OK);
    image.resize(static_cast<size_t>(r->jpeg_buffer_size));
    ASSERT_GE(image.size(), 4u);
    EXPECT_EQ(image[0], 0xFF);
    EXPECT_EQ(image[1], 0xD8);
    EXPECT_EQ(image[2], 0xFF);
    EXPECT_EQ(image[3], 0xC0); // no tables in the image-only stream

    std::vector<uint8_t> joined(tables.begin(), tables.end() - 2);
    joined.insert(joined.end(), image.begin() + 2, image.end());
    EXPECT_EQ(joined, whole.bytes);
    const DecodedImage d = tj_decode(joined, TJPF_RGB, kTjAccurate);
    EXPECT_TRUE(d.ok()) << d.error;
}

TEST(EncoderStreams, BufferOneByteShortIsRefusedWithoutWritingPastIt) {
    WriteSpec s;
    s.width = 24;
    s.height = 16;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    const Encoded whole = encode_memory(s, rgb);
    ASSERT_EQ(whole.result, JPEG_OK);
    const int32_t n = static_cast<int32_t>(whole.bytes.size());
    for (const bool progressive : {false, true}) {
        WriteSpec v = s;
        v.progressive = progressive;
        const Encoded ref = encode_memory(v, rgb);
        ASSERT_EQ(ref.result, JPEG_OK);
        const int32_t len = static_cast<int32_t>(ref.bytes.size());
        for (const int32_t size : {len, len - 1, len / 2, 3, 1}) {
            Record r = make_record();
            std::vector<uint8_t> laid = lay_out_rows(rgb, v);
            std::vector<uint8_t> buffer(static_cast<size_t>(size) + 64, 0x5A);
            describe(r.get(), v, laid.data(), buffer.data(), size);
            EXPECT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_MEM), JPEG_BUFFER_TOO_SMALL) << size;
            for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i)
                ASSERT_EQ(buffer[i], 0x5A) << "byte " << i << " written past a buffer of " << size;
        }
        Record r = make_record();
        std::vector<uint8_t> laid = lay_out_rows(rgb, v);
        std::vector<uint8_t> buffer(static_cast<size_t>(len) + 1);
        describe(r.get(), v, laid.data(), buffer.data(), len + 1);
        EXPECT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_MEM), JPEG_OK);
        EXPECT_EQ(r->jpeg_buffer_size, len);
    }
    (void)n;
}

TEST(EncoderStreams, FileModesWriteTheMemoryStream) {
    WriteSpec s;
    s.width = 120;
    s.height = 100; // more than one 4096-byte file buffer
    s.jpeg_subsampling = SUBSAMPLING_2X2;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    for (const bool progressive : {false, true}) {
        s.progressive = progressive;
        const Encoded mem = encode_memory(s, rgb);
        ASSERT_EQ(mem.result, JPEG_OK);
        ASSERT_GT(mem.bytes.size(), 4096u);
        const std::string path = std::string(QRL_BINARY_DIR) + "/encoder_file_mode.jpg";
        Record r = make_record();
        std::vector<uint8_t> laid = lay_out_rows(rgb, s);
        describe(r.get(), s, laid.data(), nullptr, 0);
        r->jpeg_file_name = path.c_str();
        ASSERT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_FILE), JPEG_OK);
        EXPECT_EQ(r->jpeg_buffer_size, static_cast<int32_t>(mem.bytes.size()));
        EXPECT_EQ(read_file_bytes(path), mem.bytes);
        std::remove(path.c_str());
    }
}

TEST(EncoderStreams, FileThatCannotBeCreatedIsRefused) {
    WriteSpec s;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    Record r = make_record();
    std::vector<uint8_t> laid = lay_out_rows(rgb, s);
    describe(r.get(), s, laid.data(), nullptr, 0);
    r->jpeg_file_name = "/nonexistent-folder/x.jpg";
    EXPECT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_FILE), JPEG_INVALID_FILE_NAME);
}

// Requests that would read outside the pixel buffer or overflow the record's
// component arrays.
TEST(EncoderStreams, UnservableRequestsAreRefused) {
    struct Case {
        const char *name;
        void (*change)(JPEG_CODEC_RECORD *);
        int32_t expected;
    };
    const Case cases[] = {
        {"five components", [](JPEG_CODEC_RECORD *r) {
             r->image_color = COLOR_OTHER; r->jpeg_color = COLOR_OTHER;
             r->image_channels = 5; r->jpeg_channels = 5; r->jpeg_subsampling = 0; }, JPEG_ERR_COMP},
        {"frame wider than pixels", [](JPEG_CODEC_RECORD *r) { r->jpeg_width += 1; }, JPEG_INVALID_PROPERTIES},
        {"frame taller than pixels", [](JPEG_CODEC_RECORD *r) { r->jpeg_height += 8; }, JPEG_INVALID_PROPERTIES},
        {"height 0", [](JPEG_CODEC_RECORD *r) { r->image_height = 0; }, JPEG_INVALID_PROPERTIES},
        {"restart above 65535", [](JPEG_CODEC_RECORD *r) { r->props.restart_interval = 70000; }, JPEG_INVALID_PROPERTIES},
        {"packed odd width", [](JPEG_CODEC_RECORD *r) {
             r->image_color = COLOR_YCBCR; r->image_subsampling = 2; r->jpeg_subsampling = 2;
             r->image_width = 23; r->jpeg_width = 23; }, JPEG_INVALID_PROPERTIES},
        {"packed into 4:2:0", [](JPEG_CODEC_RECORD *r) {
             r->image_color = COLOR_YCBCR; r->image_subsampling = 2; r->jpeg_subsampling = 1; }, JPEG_INVALID_PROPERTIES},
        {"read mode", [](JPEG_CODEC_RECORD *) {}, JPEG_INVALID_PROPERTIES},
    };
    for (const Case &c : cases) {
        WriteSpec s;
        s.width = 24;
        s.height = 16;
        std::vector<uint8_t> pixels(static_cast<size_t>(s.width) * s.height * 8, 100);
        std::vector<uint8_t> buffer(65536, 0x5A);
        Record r = make_record();
        describe(r.get(), s, pixels.data(), buffer.data(), static_cast<int32_t>(buffer.size()));
        c.change(r.get());
        const int32_t mode = std::string(c.name) == "read mode" ? JPEG_IO_DECODE_MEM : JPEG_IO_ENCODE_MEM;
        EXPECT_EQ(codec_write(r.get(), mode), c.expected) << c.name;
        EXPECT_EQ(buffer[0], 0x5A) << c.name << ": nothing may be written";
    }
}

TEST(EncoderStreams, PackedYcbcrInputEncodesAs422) {
    WriteSpec s;
    s.width = 34;
    s.height = 20;
    // Y Cb Y Cr pairs from a smooth picture.
    std::vector<uint8_t> packed(static_cast<size_t>(s.width) * s.height * 2);
    for (int32_t y = 0; y < s.height; ++y)
        for (int32_t x = 0; x < s.width; ++x) {
            uint8_t *p = packed.data() + (y * s.width + x) * 2;
            p[0] = static_cast<uint8_t>(30 + 5 * x + 2 * y);
            p[1] = (x & 1) == 0 ? static_cast<uint8_t>(100 + 3 * y) : static_cast<uint8_t>(160 - 2 * x);
        }
    Record r = make_record();
    std::vector<uint8_t> buffer(65536);
    WriteSpec v = s;
    v.image_color = COLOR_YCBCR;
    describe(r.get(), v, packed.data(), buffer.data(), static_cast<int32_t>(buffer.size()));
    r->image_subsampling = SUBSAMPLING_2X1;
    r->jpeg_subsampling = SUBSAMPLING_2X1;
    ASSERT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_MEM), JPEG_OK);
    buffer.resize(static_cast<size_t>(r->jpeg_buffer_size));
    // Luma decoded as gray must follow the Y bytes.
    const DecodedImage d = tj_decode(buffer, TJPF_GRAY, kTjAccurate);
    ASSERT_TRUE(d.ok()) << d.error;
    std::vector<uint8_t> luma(static_cast<size_t>(s.width) * s.height);
    for (size_t i = 0; i < luma.size(); ++i) luma[i] = packed[2 * i];
    const DiffStats st = compare_images(d.pixels.data(), 0, luma.data(), 0, s.width, s.height, 1);
    EXPECT_GE(st.psnr, 38.0);
}

TEST(EncoderStreams, FastQuality100KeepsACheckerboardNearlyLossless) {
    WriteSpec s;
    s.width = 32;
    s.height = 32;
    s.image_color = COLOR_GRAY;
    s.image_channels = 1;
    s.jpeg_color = COLOR_GRAY;
    s.jpeg_channels = 1;
    s.quality = 100;
    s.dct_method = 0;
    std::vector<uint8_t> board(32 * 32);
    for (int i = 0; i < 32 * 32; ++i) board[static_cast<size_t>(i)] = ((i + i / 32) & 1) != 0 ? 200 : 50;
    const Encoded e = encode_memory(s, board);
    ASSERT_EQ(e.result, JPEG_OK);
    const DecodedImage d = tj_decode(e.bytes, TJPF_GRAY, kTjAccurate);
    ASSERT_TRUE(d.ok()) << d.error;
    const DiffStats st = compare_images(d.pixels.data(), 0, board.data(), 0, 32, 32, 1);
    EXPECT_GE(st.psnr, 40.0);
}

TEST(EncoderStreams, DefaultCommentNamesOurVersion) {
    WriteSpec s;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    const Encoded e = encode_memory(s, rgb);
    ASSERT_EQ(e.result, JPEG_OK);
    const std::string text = "quorrel 1.51.12 [1.51.12.44]";
    const std::string stream(e.bytes.begin(), e.bytes.end());
    const size_t at = stream.find(text);
    ASSERT_NE(at, std::string::npos);
    // FF FE, length = text + 3, text, zero byte.
    ASSERT_GE(at, 4u);
    EXPECT_EQ(static_cast<uint8_t>(stream[at - 4]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(stream[at - 3]), 0xFE);
    EXPECT_EQ((static_cast<uint8_t>(stream[at - 2]) << 8) | static_cast<uint8_t>(stream[at - 1]),
              static_cast<int>(text.size()) + 3);
    EXPECT_EQ(stream[at + text.size()], '\0');
}

TEST(EncoderStreams, CallerCommentIsWrittenAndLongOnesCut) {
    WriteSpec s;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    for (const int32_t size : {5, 65535}) {
        std::vector<uint8_t> comment(static_cast<size_t>(size), 'c');
        comment[0] = 'Q';
        Record r = make_record();
        std::vector<uint8_t> laid = lay_out_rows(rgb, s);
        std::vector<uint8_t> buffer(200000);
        describe(r.get(), s, laid.data(), buffer.data(), static_cast<int32_t>(buffer.size()));
        r->props.jpeg_comment = comment.data();
        r->props.jpeg_comment_size = static_cast<uint16_t>(size);
        ASSERT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_MEM), JPEG_OK);
        const int32_t kept = size > 65531 ? 65531 : size;
        EXPECT_EQ(r->props.jpeg_comment_size, kept);
        // SOI (2) + JFIF (18) + FF FE length.
        ASSERT_EQ(buffer[20], 0xFF);
        ASSERT_EQ(buffer[21], 0xFE);
        EXPECT_EQ((buffer[22] << 8) | buffer[23], kept + 2);
        EXPECT_EQ(buffer[24], 'Q');
        buffer.resize(static_cast<size_t>(r->jpeg_buffer_size));
        EXPECT_TRUE(tj_decode(buffer, TJPF_RGB, kTjAccurate).ok());
    }
}

TEST(EncoderStreams, RestartMarkersCycleAndFollowTheLastMcu) {
    WriteSpec s;
    s.width = 80; // 10 x 2 MCUs of 8x8 = 20 MCUs
    s.height = 16;
    s.restart_interval = 1;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    const Encoded e = encode_memory(s, rgb);
    ASSERT_EQ(e.result, JPEG_OK);
    std::vector<int> markers;
    for (size_t i = 0; i + 1 < e.bytes.size(); ++i)
        if (e.bytes[i] == 0xFF && e.bytes[i + 1] >= 0xD0 && e.bytes[i + 1] <= 0xD7) markers.push_back(e.bytes[i + 1] - 0xD0);
    ASSERT_EQ(markers.size(), 20u);
    for (size_t i = 0; i < markers.size(); ++i) EXPECT_EQ(markers[i], static_cast<int>(i % 8));
    EXPECT_TRUE(tj_decode(e.bytes, TJPF_RGB, kTjAccurate).ok());
}

TEST(EncoderStreams, ProgressiveWithRestartIntervalWritesNoDri) {
    WriteSpec s;
    s.progressive = true;
    s.restart_interval = 2;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    const Encoded e = encode_memory(s, rgb);
    ASSERT_EQ(e.result, JPEG_OK);
    for (size_t i = 0; i + 1 < e.bytes.size(); ++i) EXPECT_FALSE(e.bytes[i] == 0xFF && e.bytes[i + 1] == 0xDD);
    EXPECT_TRUE(tj_decode(e.bytes, TJPF_RGB, kTjAccurate).ok());
}

// Our own decoder, given RGB output room for a stream; max difference against
// the reference decode, or -1 when the decode fails.
int32_t our_decode_difference(const std::vector<uint8_t> &jpeg, int32_t width, int32_t height,
                              int32_t *result) {
    const DecodedImage ref = tj_decode(jpeg, TJPF_RGB, kTjAccurate);
    if (!ref.ok()) return -1;
    Record r = make_record();
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * 3);
    r->image_pixels = out.data();
    r->image_width = width;
    r->image_height = height;
    r->image_channels = 3;
    r->image_color = COLOR_RGB;
    r->jpeg_buffer = const_cast<uint8_t *>(jpeg.data());
    r->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
    *result = codec_read(r.get(), JPEG_IO_DECODE_MEM);
    if (*result != JPEG_OK) return -1;
    return compare_images(out.data(), 0, ref.pixels.data(), 0, width, height, 3).max_abs;
}

// Our own decoder reads what we write as the reference decoder does. The
// check is skipped for layouts our decoder does not yet read correctly in the
// reference encoder's streams either.
TEST(EncoderStreams, OurDecoderReadsOurStreams) {
    struct Case {
        int32_t subsampling;
        int tj_subsampling;
        bool progressive;
    };
    const Case cases[] = {{SUBSAMPLING_NONE, TJSAMP_444, false}, {SUBSAMPLING_2X2, TJSAMP_420, false},
                          {SUBSAMPLING_2X1, TJSAMP_422, false},  {SUBSAMPLING_NONE, TJSAMP_444, true},
                          {SUBSAMPLING_2X2, TJSAMP_420, true}};
    int checked = 0;
    for (const Case &c : cases) {
        WriteSpec s;
        s.width = 45;
        s.height = 31;
        s.jpeg_subsampling = c.subsampling;
        s.progressive = c.progressive;
        const auto rgb = synthetic_pixels(s.width, s.height, 3);
        const Encoded e = encode_memory(s, rgb);
        ASSERT_EQ(e.result, JPEG_OK);
        const std::vector<uint8_t> theirs =
            tj_encode_pixels(rgb.data(), s.width, s.height, TJPF_RGB, c.tj_subsampling, 90,
                             TJFLAG_ACCURATEDCT | (c.progressive ? TJFLAG_PROGRESSIVE : 0));
        int32_t result = 0;
        const int32_t reference_difference = our_decode_difference(theirs, s.width, s.height, &result);
        if (reference_difference < 0 || reference_difference > 4) continue;
        const int32_t difference = our_decode_difference(e.bytes, s.width, s.height, &result);
        EXPECT_EQ(result, JPEG_OK) << "subsampling " << c.subsampling << " progressive " << c.progressive;
        EXPECT_GE(difference, 0);
        EXPECT_LE(difference, 4) << "subsampling " << c.subsampling << " progressive " << c.progressive;
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "our decoder does not yet read the reference encoder's streams";
}

TEST(EncoderStreams, CallerTablesAreWrittenAndUsed) {
    WriteSpec s;
    s.width = 24;
    s.height = 16;
    s.image_color = COLOR_GRAY;
    s.image_channels = 1;
    s.jpeg_color = COLOR_GRAY;
    s.jpeg_channels = 1;
    s.quality = 50; // scale 100: the caller's values as given
    std::vector<uint8_t> gray(static_cast<size_t>(s.width) * s.height);
    for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<uint8_t>(i * 5 % 251);
    std::vector<uint8_t> quant(64, 3);
    static const uint8_t dc_bits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    static const uint8_t dc_values[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    // AC: every symbol a code of 8 or 9 bits.
    static uint8_t ac_bits[16] = {0, 0, 0, 0, 0, 0, 0, 255, 1, 0, 0, 0, 0, 0, 0, 0};
    static uint8_t ac_values[256];
    for (int i = 0; i < 256; ++i) ac_values[i] = static_cast<uint8_t>(i);

    Record r = make_record();
    std::vector<uint8_t> laid = lay_out_rows(gray, s);
    std::vector<uint8_t> buffer(65536);
    describe(r.get(), s, laid.data(), buffer.data(), static_cast<int32_t>(buffer.size()));
    r->props.raw_quant_tables[0] = {quant.data(), 0};
    r->props.custom_quant_tables = 1;
    r->props.raw_huffman_tables[0] = {const_cast<uint8_t *>(dc_bits), const_cast<uint8_t *>(dc_values), 0, 0};
    r->props.raw_huffman_tables[1] = {ac_bits, ac_values, 1, 0};
    r->props.custom_huffman_tables = 1;
    ASSERT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_MEM), JPEG_OK);
    buffer.resize(static_cast<size_t>(r->jpeg_buffer_size));
    const std::string stream(buffer.begin(), buffer.end());
    // One DQT of id 0 with every entry 3, one DHT of one pair.
    const size_t dqt = stream.find("\xFF\xDB");
    ASSERT_NE(dqt, std::string::npos);
    EXPECT_EQ(static_cast<uint8_t>(stream[dqt + 3]), 67);
    for (int k = 0; k < 64; ++k) EXPECT_EQ(static_cast<uint8_t>(stream[dqt + 5 + k]), 3);
    EXPECT_EQ(stream.find("\xFF\xDB", dqt + 2), std::string::npos);
    const size_t dht = stream.find("\xFF\xC4");
    ASSERT_NE(dht, std::string::npos);
    EXPECT_EQ((static_cast<uint8_t>(stream[dht + 2]) << 8) | static_cast<uint8_t>(stream[dht + 3]),
              2 + 17 + 12 + 17 + 256);
    const DecodedImage d = tj_decode(buffer, TJPF_GRAY, kTjAccurate);
    ASSERT_TRUE(d.ok()) << d.error;
    EXPECT_GE(compare_images(d.pixels.data(), 0, gray.data(), 0, s.width, s.height, 1).psnr, 38.0);
}

TEST(EncoderStreams, SamplePlanesEncodeLikePixels) {
    WriteSpec s;
    s.width = 21;
    s.height = 13;
    s.image_color = COLOR_GRAY;
    s.image_channels = 1;
    s.jpeg_color = COLOR_GRAY;
    s.jpeg_channels = 1;
    std::vector<uint8_t> gray(static_cast<size_t>(s.width) * s.height);
    for (size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<uint8_t>(40 + (i * 3) % 170);
    // The plane covers whole blocks (24 x 16); outside the image it repeats
    // the last column and row, as the pixel readers do.
    const int32_t pw = 24, ph = 16;
    std::vector<int16_t> plane(static_cast<size_t>(pw) * ph);
    for (int32_t y = 0; y < ph; ++y)
        for (int32_t x = 0; x < pw; ++x)
            plane[static_cast<size_t>(y * pw + x)] =
                gray[static_cast<size_t>(std::min(y, s.height - 1) * s.width + std::min(x, s.width - 1))];
    const Encoded from_pixels = encode_memory(s, gray);
    ASSERT_EQ(from_pixels.result, JPEG_OK);

    COEFFICIENT_PLANES planes{};
    planes.planes_mode = 1;
    planes.plane[0] = plane.data();
    Record r = make_record();
    std::vector<uint8_t> buffer(65536);
    describe(r.get(), s, nullptr, buffer.data(), static_cast<int32_t>(buffer.size()));
    r->props.coefficient_planes = &planes;
    ASSERT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_MEM), JPEG_OK);
    buffer.resize(static_cast<size_t>(r->jpeg_buffer_size));
    EXPECT_EQ(buffer, from_pixels.bytes);
}

TEST(EncoderStreams, QualitiesScaleTheTables) {
    WriteSpec s;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    size_t previous = 0;
    for (const int32_t quality : {-5, 1, 50, 75, 100, 130}) {
        s.quality = quality;
        const Encoded e = encode_memory(s, rgb);
        ASSERT_EQ(e.result, JPEG_OK) << quality;
        ASSERT_TRUE(tj_decode(e.bytes, TJPF_RGB, kTjAccurate).ok()) << quality;
        // The luminance DQT: first entry of Table K.1 is 16, scaled.
        const std::string stream(e.bytes.begin(), e.bytes.end());
        const size_t dqt = stream.find("\xFF\xDB");
        ASSERT_NE(dqt, std::string::npos);
        const int q = quality < 1 ? 1 : quality > 100 ? 100 : quality;
        const int scale = q < 50 ? 5000 / q : 200 - 2 * q;
        const int expected = std::max(1, std::min(255, (16 * scale + 50) / 100));
        EXPECT_EQ(static_cast<uint8_t>(stream[dqt + 5]), expected) << quality;
        if (quality == -5 || quality == 130) continue; // same as 1 and 100
        EXPECT_GE(e.bytes.size(), previous) << quality;
        previous = e.bytes.size();
    }
}

TEST(EncoderStreams, FourChannelRgbSourceIgnoresTheFourthChannel) {
    for (const int32_t sub : {SUBSAMPLING_NONE, SUBSAMPLING_2X2}) {
        WriteSpec s;
        s.width = 29;
        s.height = 19;
        s.image_channels = 4;
        s.jpeg_subsampling = sub;
        const auto rgb = smooth_pixels(s.width, s.height, 3);
        std::vector<uint8_t> rgbx(static_cast<size_t>(s.width) * s.height * 4);
        for (size_t i = 0; i < rgb.size() / 3; ++i) {
            for (int c = 0; c < 3; ++c) rgbx[4 * i + static_cast<size_t>(c)] = rgb[3 * i + static_cast<size_t>(c)];
            rgbx[4 * i + 3] = static_cast<uint8_t>(i * 13);
        }
        const Encoded e = encode_memory(s, rgbx);
        ASSERT_EQ(e.result, JPEG_OK);
        const DecodedImage d = tj_decode(e.bytes, TJPF_RGB, kTjAccurate);
        ASSERT_TRUE(d.ok()) << d.error;
        // Like the three-channel source through its fast reader.
        WriteSpec three = s;
        three.image_channels = 3;
        const Encoded e3 = encode_memory(three, rgb);
        ASSERT_EQ(e3.result, JPEG_OK);
        const DecodedImage d3 = tj_decode(e3.bytes, TJPF_RGB, kTjAccurate);
        ASSERT_TRUE(d3.ok());
        EXPECT_GE(compare_images(d.pixels.data(), 0, d3.pixels.data(), 0, s.width, s.height, 3).psnr, 40.0) << sub;
    }
}

TEST(EncoderStreams, TwoComponentProgressiveUsesSpectralSelectionOnly) {
    WriteSpec s;
    s.image_color = COLOR_OTHER;
    s.image_channels = 2;
    s.jpeg_color = COLOR_OTHER;
    s.jpeg_channels = 2;
    s.progressive = true;
    const auto px = synthetic_pixels(s.width, s.height, 2);
    const Encoded e = encode_memory(s, px);
    ASSERT_EQ(e.result, JPEG_OK);
    int scans = 0;
    for (size_t i = 0; i + 12 < e.bytes.size(); ++i) {
        if (e.bytes[i] != 0xFF || e.bytes[i + 1] != 0xDA) continue;
        ++scans;
        const size_t ns = e.bytes[i + 4];
        EXPECT_EQ(e.bytes[i + 5 + 2 * ns + 2], 0x00) << "scan " << scans << ": no successive approximation";
    }
    EXPECT_EQ(scans, 5);
}

} // namespace

namespace {

std::string work_path(const char *name) { return std::string(QRL_BINARY_DIR) + "/" + name; }

// An interrupted file encode (the file stays open between the calls) writes
// the bytes of the memory encode; so do the abbreviated file modes 10 and 12.
TEST(EncoderFiles, InterruptedAndAbbreviatedFileEncodesWriteTheMemoryStreams) {
    WriteSpec s;
    s.width = 120;
    s.height = 72; // more than one 4096-byte file buffer
    s.jpeg_subsampling = SUBSAMPLING_2X2;
    s.restart_interval = 3;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    const Encoded whole = encode_memory(s, rgb);
    ASSERT_EQ(whole.result, JPEG_OK);
    ASSERT_GT(whole.bytes.size(), 4096u);
    std::vector<uint8_t> laid = lay_out_rows(rgb, s);

    const std::string path = work_path("encoder_interrupted.jpg");
    Record r = make_record();
    describe(r.get(), s, laid.data(), nullptr, 0);
    r->jpeg_file_name = path.c_str();
    int32_t result = JPEG_INTERRUPT_OK, calls = 0;
    while (result == JPEG_INTERRUPT_OK && calls < 1000) {
        r->props.interrupt_after_mcu = 1;
        result = codec_write(r.get(), JPEG_IO_ENCODE_FILE);
        ++calls;
    }
    EXPECT_EQ(result, JPEG_OK);
    EXPECT_EQ(calls, 8 * 5); // 16x16 MCUs: 8 columns, 5 rows
    EXPECT_EQ(read_file_bytes(path), whole.bytes);

    const std::string tables_path = work_path("encoder_tables.jpg"), image_path = work_path("encoder_image.jpg");
    Record a = make_record();
    describe(a.get(), s, laid.data(), nullptr, 0);
    a->jpeg_file_name = tables_path.c_str();
    ASSERT_EQ(codec_write(a.get(), JPEG_IO_WRITE_TABLES_FILE), JPEG_OK);
    a->jpeg_file_name = image_path.c_str();
    ASSERT_EQ(codec_write(a.get(), JPEG_IO_ENCODE_IMAGE_ONLY_FILE), JPEG_OK);
    const std::vector<uint8_t> tables = read_file_bytes(tables_path), image = read_file_bytes(image_path);
    ASSERT_GE(tables.size(), 4u);
    ASSERT_GE(image.size(), 4u);
    std::vector<uint8_t> joined(tables.begin(), tables.end() - 2); // without EOI
    joined.insert(joined.end(), image.begin() + 2, image.end());   // without SOI
    EXPECT_EQ(joined, whole.bytes);
    for (const std::string &p : {path, tables_path, image_path}) std::remove(p.c_str());
}

// A file whose writes fail (no space left) gives JPEG_FILE_ERROR, never
// success, in both encoders; the progressive one keeps the error of a write
// inside a scan until the scan ends.
TEST(EncoderFiles, FailedFileWritesAreReported) {
    std::FILE *probe = std::fopen("/dev/full", "wb");
    if (probe == nullptr) GTEST_SKIP() << "skipped: no /dev/full on this system";
    std::fclose(probe);
    WriteSpec s;
    s.width = 160;
    s.height = 120;
    const auto rgb = synthetic_pixels(s.width, s.height, 3);
    std::vector<uint8_t> laid = lay_out_rows(rgb, s);
    for (const bool progressive : {false, true}) {
        s.progressive = progressive;
        Record r = make_record();
        describe(r.get(), s, laid.data(), nullptr, 0);
        r->jpeg_file_name = "/dev/full";
        EXPECT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_FILE), JPEG_FILE_ERROR) << "progressive " << progressive;
    }
}

// Quantized coefficients given through planes (planes_mode 0), here our
// decoder's own, encode to the stream they came from, sequential and
// progressive.
TEST(EncoderStreams, QuantizedCoefficientPlanesReproduceTheStream) {
    WriteSpec s;
    s.width = 21;
    s.height = 13;
    s.image_color = COLOR_GRAY;
    s.image_channels = 1;
    s.jpeg_color = COLOR_GRAY;
    s.jpeg_channels = 1;
    s.quality = 75;
    const auto gray = synthetic_pixels(s.width, s.height, 1);
    for (const bool progressive : {false, true}) {
        s.progressive = progressive;
        const Encoded from_pixels = encode_memory(s, gray);
        ASSERT_EQ(from_pixels.result, JPEG_OK);
        // Decode to quantized coefficients: one plane of 24 x 16 values.
        std::vector<int16_t> plane(24 * 16, 0x7777);
        std::vector<uint8_t> pixels(static_cast<size_t>(s.width) * s.height);
        COEFFICIENT_PLANES planes{};
        planes.planes_mode = 0;
        planes.plane[0] = plane.data();
        Record d = make_record();
        std::vector<uint8_t> jpeg = from_pixels.bytes;
        d->jpeg_buffer = jpeg.data();
        d->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
        d->image_pixels = pixels.data();
        d->image_width = s.width;
        d->image_height = s.height;
        d->image_channels = 1;
        d->image_color = COLOR_GRAY;
        d->props.coefficient_planes = &planes;
        ASSERT_EQ(codec_read(d.get(), JPEG_IO_DECODE_MEM), JPEG_OK);
        EXPECT_NE(plane[0], 0x7777);

        Record r = make_record();
        std::vector<uint8_t> buffer(65536);
        describe(r.get(), s, nullptr, buffer.data(), static_cast<int32_t>(buffer.size()));
        r->props.coefficient_planes = &planes;
        ASSERT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_MEM), JPEG_OK) << "progressive " << progressive;
        buffer.resize(static_cast<size_t>(r->jpeg_buffer_size));
        EXPECT_EQ(buffer, from_pixels.bytes) << "progressive " << progressive;
    }
}

// A decode on the record leaves nothing that changes a following encode
// that sets its fields: quantization-table selectors and partial_scan come
// from the write alone.
TEST(EncoderStreams, EncodeAfterADecodeOnTheSameRecordEqualsAFreshEncode) {
    struct Case {
        const char *name;
        JpegLayout decoded;
        bool decoded_progressive;
        int32_t image_color, image_channels, jpeg_color, jpeg_channels;
    };
    const Case cases[] = {
        {"ycbcr progressive, then rgb", JpegLayout::ycbcr, true, COLOR_RGB, 3, COLOR_RGB, 3},
        {"rgb (tables 0), then rgb", JpegLayout::rgb, false, COLOR_RGB, 3, COLOR_RGB, 3},
        {"cmyk progressive, then cmyk", JpegLayout::cmyk, true, COLOR_CMYK, 4, COLOR_CMYK, 4},
        {"gray, then ycbcr", JpegLayout::gray, false, COLOR_RGB, 3, COLOR_YCBCR, 3},
    };
    for (const Case &c : cases) {
        LibjpegEncodeOptions o;
        o.width = 40;
        o.height = 24;
        o.layout = c.decoded;
        o.progressive = c.decoded_progressive;
        std::vector<uint8_t> jpeg = libjpeg_encode(o);
        ASSERT_FALSE(jpeg.empty()) << c.name;
        const int32_t channels = c.decoded == JpegLayout::gray ? 1 : c.decoded == JpegLayout::cmyk ? 4 : 3;
        std::vector<uint8_t> decoded(static_cast<size_t>(o.width) * o.height * static_cast<size_t>(channels));
        Record r = make_record();
        r->jpeg_buffer = jpeg.data();
        r->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
        r->image_pixels = decoded.data();
        r->image_width = o.width;
        r->image_height = o.height;
        r->image_channels = channels;
        r->image_color = channels == 1 ? COLOR_GRAY : channels == 4 ? COLOR_CMYK : COLOR_RGB;
        ASSERT_EQ(codec_read(r.get(), JPEG_IO_DECODE_MEM), JPEG_OK) << c.name;
        // scans_done selects the progressive encoder: a finished decode,
        // progressive or not, leaves it at 0.
        EXPECT_EQ(r->props.scans_done, 0) << c.name;

        WriteSpec s;
        s.width = 24;
        s.height = 16;
        s.image_color = c.image_color;
        s.image_channels = c.image_channels;
        s.jpeg_color = c.jpeg_color;
        s.jpeg_channels = c.jpeg_channels;
        const auto px = synthetic_pixels(s.width, s.height, s.image_channels);
        const Encoded fresh = encode_memory(s, px);
        ASSERT_EQ(fresh.result, JPEG_OK) << c.name;
        std::vector<uint8_t> laid = lay_out_rows(px, s);
        std::vector<uint8_t> buffer(65536);
        describe(r.get(), s, laid.data(), buffer.data(), static_cast<int32_t>(buffer.size())); // scans_done 0
        ASSERT_EQ(codec_write(r.get(), JPEG_IO_ENCODE_MEM), JPEG_OK) << c.name;
        buffer.resize(static_cast<size_t>(r->jpeg_buffer_size));
        EXPECT_EQ(buffer, fresh.bytes) << c.name;
    }
}

} // namespace

namespace {

// COLOR_OTHER pixels with more channels than the stream has components: each
// component takes its channel of every pixel (the four-channel deinterleaving
// kernel serves four-channel pixels only; wider ones go to the generic reader).
TEST(EncoderStreams, WiderOtherPixelsGiveTheirFirstChannels) {
    struct Case {
        int32_t image_channels, jpeg_channels;
        int tj_format;
    };
    const Case cases[] = {{4, 4, TJPF_CMYK}, {5, 4, TJPF_CMYK}, {7, 4, TJPF_CMYK}, {5, 1, TJPF_GRAY}};
    for (const Case &c : cases) {
        WriteSpec s;
        s.width = 27;
        s.height = 18;
        s.image_color = COLOR_OTHER;
        s.image_channels = c.image_channels;
        s.jpeg_color = COLOR_OTHER;
        s.jpeg_channels = c.jpeg_channels;
        s.quality = 95;
        const auto px = smooth_pixels(s.width, s.height, c.image_channels);
        const Encoded e = encode_memory(s, px);
        ASSERT_EQ(e.result, JPEG_OK) << c.image_channels;
        const DecodedImage d = tj_decode(e.bytes, c.tj_format, kTjAccurate);
        ASSERT_TRUE(d.ok()) << d.error;
        std::vector<uint8_t> first(static_cast<size_t>(s.width) * s.height * static_cast<size_t>(c.jpeg_channels));
        for (size_t i = 0; i < static_cast<size_t>(s.width) * s.height; ++i)
            for (int32_t k = 0; k < c.jpeg_channels; ++k)
                first[i * static_cast<size_t>(c.jpeg_channels) + static_cast<size_t>(k)] =
                    px[i * static_cast<size_t>(c.image_channels) + static_cast<size_t>(k)];
        EXPECT_GE(compare_images(d.pixels.data(), 0, first.data(), 0, s.width, s.height, c.jpeg_channels).psnr, 38.0)
            << c.image_channels << " channels into " << c.jpeg_channels;
    }
}

} // namespace
