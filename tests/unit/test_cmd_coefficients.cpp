// `quorrel coefficients` end to end: plane files written from JPEG files and
// JPEG files encoded back from them.
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cmd_test_util.h"
#include "codec/codec.h"
#include "support/corpus.h"
#include "support/oracle.h"

namespace {

using namespace qrl_cmd_test;

fs::path dir() { return work_dir("test_cmd_coefficients"); }

// Decodes a JPEG file to RGB (or gray) with the library.
std::vector<uint8_t> decode(const std::string &path, int color, int channels) {
    std::vector<uint8_t> jpeg = qrl_test::read_file_bytes(path);
    auto rec = std::make_unique<JPEG_CODEC_RECORD>();
    EXPECT_EQ(codec_init(rec.get()), JPEG_OK);
    rec->jpeg_buffer = jpeg.data();
    rec->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
    std::vector<uint8_t> px;
    if (codec_read(rec.get(), JPEG_IO_READ_HEADER_MEM) == JPEG_OK) {
        px.assign(static_cast<size_t>(rec->jpeg_width) * rec->jpeg_height * channels, 0);
        rec->image_pixels = px.data();
        rec->image_width = rec->jpeg_width;
        rec->image_height = rec->jpeg_height;
        rec->image_channels = channels;
        rec->image_color = color;
        EXPECT_EQ(codec_read(rec.get(), JPEG_IO_DECODE_MEM), JPEG_OK) << path;
    }
    (void)codec_free(rec.get());
    return px;
}

// A plane file with the component ids left out: the encoder numbers the
// components from 0, whatever the source file used.
std::string without_ids(const std::string &path) {
    const std::vector<uint8_t> bytes = qrl_test::read_file_bytes(path);
    std::string text(bytes.begin(), bytes.end());
    const std::string key = "\ncomponent ";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        const size_t id_end = text.find(' ', at + key.size());
        text.erase(at + key.size(), id_end + 1 - (at + key.size()));
    }
    return text;
}

std::vector<uint8_t> text_bytes(const std::string &text) { return {text.begin(), text.end()}; }

class CmdCoefficients : public ::testing::Test {
protected:
    void SetUp() override { QRL_REQUIRE_CLI(); }
};

TEST_F(CmdCoefficients, EncodingBackKeepsCoefficientsAndPixels) {
    struct Case {
        const char *name;
        int width, height, format, subsampling, flags;
        bool adobe = false; // an Adobe segment (transform 0) after SOI
    };
    const Case cases[] = {
        {"s420", 53, 37, TJPF_RGB, TJSAMP_420, 0},
        {"s422", 40, 17, TJPF_RGB, TJSAMP_422, 0},
        {"s444", 9, 30, TJPF_RGB, TJSAMP_444, 0},
        {"gray", 33, 21, TJPF_GRAY, TJSAMP_GRAY, 0},
        {"progressive", 70, 45, TJPF_RGB, TJSAMP_420, TJFLAG_PROGRESSIVE},
        {"gray_adobe", 20, 12, TJPF_GRAY, TJSAMP_GRAY, 0, true},
    };
    for (const Case &c : cases) {
        for (const char *mode : {"", "--progressive"}) {
            SCOPED_TRACE(std::string(c.name) + " " + mode);
            qrl_test::TjEncodeOptions o;
            o.width = c.width;
            o.height = c.height;
            o.pixel_format = c.format;
            o.subsampling = c.subsampling;
            o.flags = c.flags;
            o.quality = 80;
            std::vector<uint8_t> jpeg = qrl_test::tj_encode(o);
            if (c.adobe) {
                const uint8_t app14[] = {0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'e', 0x00, 0x64, 0, 0, 0, 0, 0};
                jpeg.insert(jpeg.begin() + 2, std::begin(app14), std::end(app14));
            }
            const std::string in = write_bytes(dir() / (std::string(c.name) + ".jpg"), jpeg);
            const std::string planes = (dir() / (std::string(c.name) + ".qcp")).string();
            const std::string back = (dir() / (std::string(c.name) + "-back.jpg")).string();
            const std::string again = (dir() / (std::string(c.name) + "-again.qcp")).string();
            CliRun r = run_cli(dir(), "coefficients dump " + quote(in) + " -o " + quote(planes));
            ASSERT_EQ(r.exit_code, 0) << r.err;
            r = run_cli(dir(), "coefficients encode " + quote(planes) + " -o " + quote(back) + " " + mode);
            ASSERT_EQ(r.exit_code, 0) << r.err;
            r = run_cli(dir(), "coefficients dump " + quote(back) + " -o " + quote(again));
            ASSERT_EQ(r.exit_code, 0) << r.err;
            EXPECT_EQ(without_ids(planes), without_ids(again)) << "the new file holds other coefficients or tables";
            const bool gray = c.format == TJPF_GRAY;
            const int color = gray ? COLOR_GRAY : COLOR_RGB, channels = gray ? 1 : 3;
            const std::vector<uint8_t> original = decode(in, color, channels);
            ASSERT_FALSE(original.empty());
            EXPECT_EQ(decode(back, color, channels), original);
            // The oracle reads the new file too.
            EXPECT_TRUE(qrl_test::tj_decode(qrl_test::read_file_bytes(back), TJPF_RGB, 0).ok());
        }
    }
}

TEST_F(CmdCoefficients, PlaneFileLayout) {
    // A flat 16x8 gray image at quality 100 (every quantizer 1): each of the
    // two blocks holds only its DC, (200 - 128) * 8 = 576.
    std::vector<uint8_t> flat(16 * 8, 200);
    const std::string in =
        write_bytes(dir() / "flat.jpg", qrl_test::tj_encode_pixels(flat.data(), 16, 8, TJPF_GRAY, TJSAMP_GRAY, 100, 0));
    const std::string planes = (dir() / "flat.qcp").string();
    const CliRun r = run_cli(dir(), "coefficients dump " + quote(in) + " -o " + quote(planes));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<uint8_t> bytes = qrl_test::read_file_bytes(planes);
    const std::string text(bytes.begin(), bytes.end());
    const size_t end = text.find("\nend\n");
    ASSERT_NE(end, std::string::npos);
    const std::string header = text.substr(0, end + 5);
    EXPECT_EQ(header.rfind("QCP 1\nsize 16 8\ncolor 4\ncomponent ", 0), 0u) << header;
    EXPECT_TRUE(has(header, " 1 1 0 16 8\n")) << header;
    EXPECT_TRUE(has(header, "\ntable 0 1 1 1 ")) << header;
    ASSERT_EQ(bytes.size(), header.size() + 16 * 8 * 2);
    const uint8_t *data = bytes.data() + header.size();
    auto value = [&](int x, int y) {
        const size_t i = static_cast<size_t>(y * 16 + x) * 2;
        return static_cast<int16_t>(data[i] | data[i + 1] << 8);
    };
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) EXPECT_EQ(value(x, y), (x % 8 == 0 && y == 0) ? 576 : 0) << x << "," << y;
}

TEST_F(CmdCoefficients, RefusalsNameTheFile) {
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        const char *action;
        std::string message;
    };
    qrl_test::TjEncodeOptions o;
    o.width = 16;
    o.height = 16;
    std::vector<uint8_t> jpeg = qrl_test::tj_encode(o);
    const std::string header = "QCP 1\nsize 16 16\ncolor 3\ncomponent 1 1 1 0 16 16\ntable 0";
    std::string table;
    for (int i = 0; i < 64; ++i) table += " 2";
    const std::string complete = header + table + "\nend\n";
    const Case cases[] = {
        {"not_planes", jpeg, "encode", "not a plane file"},
        {"cut_short", text_bytes(complete), "encode", "cut short"},
        {"short_table", text_bytes(header + " 1 2 3\nend\n"), "encode", "64 values"},
        {"not_jpeg", {'h', 'e', 'l', 'l', 'o'}, "dump", std::to_string(JPEG_NOT_JPEG)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string in = write_bytes(dir() / c.what, c.bytes);
        const CliRun r = run_cli(dir(), std::string("coefficients ") + c.action + " " + quote(in) + " -o " +
                                         quote((dir() / "out").string()));
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_TRUE(has(r.err, in)) << r.err;
        EXPECT_TRUE(has(r.err, c.message)) << r.err;
    }
    // The not-JPEG case also carries the library's message.
    const CliRun r = run_cli(dir(), "coefficients dump " + quote((dir() / "not_jpeg").string()) + " -o x.qcp");
    EXPECT_TRUE(has(r.err, codec_error_text(JPEG_NOT_JPEG))) << r.err;
    EXPECT_EQ(run_cli(dir(), "coefficients squash a -o b").exit_code, 2);
    EXPECT_EQ(run_cli(dir(), "coefficients dump a").exit_code, 2);
}

} // namespace
