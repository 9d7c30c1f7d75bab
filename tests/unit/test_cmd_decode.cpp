// The command-line decoder end to end (runs the built `quorrel` program) and
// the image file writers and readers it shares with the encoder command.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "codec/codec.h"
#include "support/corpus.h"
#include "support/oracle.h"

#ifdef QRL_CLI_PATH
#include "tools/image_io.h"

namespace qrl_test {
namespace {

namespace fs = std::filesystem;
using qrl_tools::Image;
using qrl_tools::ImageFormat;

// One folder per test: ctest runs the tests as separate processes in parallel.
fs::path work_dir() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string test = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "common";
    const fs::path dir = fs::path(QRL_BINARY_DIR) / "test_cmd_decode" / test;
    fs::create_directories(dir);
    return dir;
}

std::string write_bytes(const std::string &name, const std::vector<uint8_t> &bytes) {
    const std::string path = (work_dir() / name).string();
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

struct RunResult {
    int exit_code = -1;
    std::string err;
};

// Runs `quorrel decode ARGS` with stderr captured; `env` is put before the
// command (for example "QUORREL_USECPU=0").
RunResult run_decode(const std::string &args, const std::string &env = "") {
    const std::string err_path = (work_dir() / "stderr.txt").string();
    const std::string cmd =
        env + " '" + std::string(QRL_CLI_PATH) + "' decode " + args + " >/dev/null 2>'" + err_path + "'";
    RunResult r;
    const int status = std::system(cmd.c_str());
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> e = read_file_bytes(err_path);
    r.err.assign(e.begin(), e.end());
    return r;
}

Image load(const std::string &path) {
    Image img;
    const std::string error = qrl_tools::read_image(path, img);
    EXPECT_TRUE(error.empty()) << path << ": " << error;
    return img;
}

// What the program should have written: a direct codec_read, rows packed.
std::vector<uint8_t> direct_decode(std::vector<uint8_t> jpeg, int color, int channels, int w, int h,
                                   int dct_method = 1) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * channels, 0);
    auto rec = std::make_unique<JPEG_CODEC_RECORD>();
    EXPECT_EQ(codec_init(rec.get()), JPEG_OK);
    rec->jpeg_buffer = jpeg.data();
    rec->jpeg_buffer_size = static_cast<int32_t>(jpeg.size());
    EXPECT_EQ(codec_read(rec.get(), JPEG_IO_READ_HEADER_MEM), JPEG_OK);
    rec->image_pixels = px.data();
    rec->image_width = w;
    rec->image_height = h;
    rec->image_channels = channels;
    rec->image_color = color;
    rec->props.dct_method = dct_method;
    EXPECT_EQ(codec_read(rec.get(), JPEG_IO_DECODE_MEM), JPEG_OK);
    (void)codec_free(rec.get());
    return px;
}

class CmdDecode : public ::testing::Test {
protected:
    void SetUp() override {
        TjEncodeOptions o;
        o.width = kW;
        o.height = kH;
        o.subsampling = TJSAMP_420;
        jpeg_ = tj_encode(o);
        ASSERT_FALSE(jpeg_.empty());
        input_ = write_bytes("input.jpg", jpeg_);
        rgb_ = direct_decode(jpeg_, COLOR_RGB, 3, kW, kH);
    }
    std::string out(const std::string &name) const { return (work_dir() / name).string(); }

    static constexpr int kW = 53, kH = 37;
    std::vector<uint8_t> jpeg_;
    std::string input_;
    std::vector<uint8_t> rgb_;
};

// ---- Image files -----------------------------------------------------------------

TEST(ImageIo, WritersAndReadersRoundTrip) {
    struct Case {
        const char *name;
        ImageFormat format;
        int channels;
    };
    const Case cases[] = {
        {"rt.png", ImageFormat::png, 3}, {"rt_gray.png", ImageFormat::png, 1}, {"rt_rgba.png", ImageFormat::png, 4},
        {"rt.ppm", ImageFormat::ppm, 3}, {"rt.pgm", ImageFormat::pgm, 1},
        {"rt.pam", ImageFormat::pam, 4}, {"rt_gray.pam", ImageFormat::pam, 1}, {"rt_rgb.pam", ImageFormat::pam, 3},
        {"rt.bmp", ImageFormat::bmp, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> px = synthetic_pixels(19, 7, c.channels, 5);
        // Written from a padded buffer: the file holds the rows only.
        const size_t stride = 19 * c.channels + 3;
        std::vector<uint8_t> padded(stride * 7, 0xEE);
        for (int y = 0; y < 7; ++y) std::memcpy(&padded[stride * y], &px[19 * c.channels * y], 19 * c.channels);
        const std::string path = (work_dir() / c.name).string();
        EXPECT_EQ(qrl_tools::image_format_from_name(path), c.format);
        ASSERT_EQ(qrl_tools::write_image(path, c.format, padded.data(), stride, 19, 7, c.channels), "");
        const Image back = load(path);
        EXPECT_EQ(back.width, 19);
        EXPECT_EQ(back.height, 7);
        EXPECT_EQ(back.channels, c.channels);
        EXPECT_EQ(back.pixels, px);
    }
}

TEST(ImageIo, PamAndBmpLayouts) {
    const std::vector<uint8_t> px = synthetic_pixels(5, 3, 4, 2);
    const std::string pam = (work_dir() / "four.pam").string();
    ASSERT_EQ(qrl_tools::write_image(pam, ImageFormat::pam, px.data(), 0, 5, 3, 4, "CMYK"), "");
    const std::vector<uint8_t> bytes = read_file_bytes(pam);
    const std::string header = "P7\nWIDTH 5\nHEIGHT 3\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n";
    ASSERT_EQ(bytes.size(), header.size() + px.size());
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<long>(header.size())), header);
    EXPECT_TRUE(std::equal(px.begin(), px.end(), bytes.begin() + static_cast<long>(header.size())));

    // BMP: bottom-up BGR rows padded to four bytes.
    const std::vector<uint8_t> rgb = synthetic_pixels(5, 3, 3, 2);
    const std::string bmp = (work_dir() / "three.bmp").string();
    ASSERT_EQ(qrl_tools::write_image(bmp, ImageFormat::bmp, rgb.data(), 0, 5, 3, 3), "");
    const std::vector<uint8_t> b = read_file_bytes(bmp);
    ASSERT_EQ(b.size(), 54u + 16u * 3u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    // First stored row is the image's last; first pixel stored as B, G, R.
    EXPECT_EQ(b[54], rgb[(2 * 5) * 3 + 2]);
    EXPECT_EQ(b[55], rgb[(2 * 5) * 3 + 1]);
    EXPECT_EQ(b[56], rgb[(2 * 5) * 3 + 0]);

    EXPECT_FALSE(qrl_tools::image_format_accepts(ImageFormat::ppm, 4));
    EXPECT_FALSE(qrl_tools::image_format_accepts(ImageFormat::png, 5));
    EXPECT_NE(qrl_tools::write_image((work_dir() / "x.ppm").string(), ImageFormat::ppm, px.data(), 0, 5, 3, 4), "");
}

TEST(ImageIo, ReaderRefusesOtherFiles) {
    Image img;
    const std::string path = write_bytes("not_an_image.png", {1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_NE(qrl_tools::read_image(path, img), "");
    const std::string cut = write_bytes("cut.ppm", {'P', '6', '\n', '4', ' ', '4', '\n', '2', '5', '5', '\n', 1, 2});
    EXPECT_NE(qrl_tools::read_image(cut, img), "");
    EXPECT_NE(qrl_tools::read_image((work_dir() / "missing.pgm").string(), img), "");
}

// ---- The program -------------------------------------------------------------------

TEST_F(CmdDecode, WritesTheDecodedRowsInEveryLayout) {
    struct Case {
        const char *args;
        const char *file;
        int bottom_up;
    };
    const Case cases[] = {
        {"", "plain.ppm", 0},
        {"--bottom-up", "bottom.ppm", 1},
        {"--pad 7", "pad.ppm", 0},
        {"--bottom-up --pad 13", "bottom_pad.png", 1},
        {"--incremental", "incremental.png", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        const RunResult r = run_decode("'" + input_ + "' -o '" + out(c.file) + "' " + c.args);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        const Image img = load(out(c.file));
        EXPECT_EQ(img.width, kW);
        EXPECT_EQ(img.height, kH);
        ASSERT_EQ(img.channels, 3);
        EXPECT_EQ(img.pixels, rgb_);
    }
}

TEST_F(CmdDecode, ColorOptions) {
    // bgr: the bytes as decoded, so the channels are swapped in the file.
    ASSERT_EQ(run_decode("'" + input_ + "' -o '" + out("bgr.ppm") + "' --color bgr").exit_code, 0);
    const Image bgr = load(out("bgr.ppm"));
    ASSERT_EQ(bgr.pixels.size(), rgb_.size());
    for (size_t i = 0; i < rgb_.size(); i += 3) {
        ASSERT_EQ(bgr.pixels[i], rgb_[i + 2]);
        ASSERT_EQ(bgr.pixels[i + 2], rgb_[i]);
    }
    ASSERT_EQ(run_decode("'" + input_ + "' -o '" + out("gray.pgm") + "' --color gray").exit_code, 0);
    EXPECT_EQ(load(out("gray.pgm")).pixels, direct_decode(jpeg_, COLOR_GRAY, 1, kW, kH));

    // Four channels go to PAM only.
    ASSERT_EQ(run_decode("'" + input_ + "' -o '" + out("cmyk.pam") + "' --color cmyk").exit_code, 0);
    const std::vector<uint8_t> pam = read_file_bytes(out("cmyk.pam"));
    const std::vector<uint8_t> cmyk = direct_decode(jpeg_, COLOR_CMYK, 4, kW, kH);
    ASSERT_GE(pam.size(), cmyk.size());
    EXPECT_TRUE(std::equal(cmyk.begin(), cmyk.end(), pam.end() - static_cast<long>(cmyk.size())));
    const RunResult refused = run_decode("'" + input_ + "' -o '" + out("cmyk.png") + "' --color cmyk");
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("pam"), std::string::npos) << refused.err;

    // --fast selects the fast family.
    ASSERT_EQ(run_decode("'" + input_ + "' -o '" + out("fast.ppm") + "' --fast").exit_code, 0);
    EXPECT_EQ(load(out("fast.ppm")).pixels, direct_decode(jpeg_, COLOR_RGB, 3, kW, kH, 0));
}

TEST_F(CmdDecode, RegionAndScale) {
    // With the portable kernels a region is exactly the crop of the full
    // decode. With the SIMD sets, MCUs cut by the region's border go through
    // the portable partial writers while the full decode used the SIMD
    // kernel: red and blue may then be 1 higher, green is equal.
    for (const char *env : {"QUORREL_USECPU=0", ""}) {
        SCOPED_TRACE(*env != '\0' ? env : "default processor class");
        const bool portable = *env != '\0';
        ASSERT_EQ(run_decode("'" + input_ + "' -o '" + out("full.ppm") + "'", env).exit_code, 0);
        ASSERT_EQ(run_decode("'" + input_ + "' -o '" + out("region.ppm") + "' --region 9,5,20,30", env).exit_code, 0);
        const Image full = load(out("full.ppm"));
        const Image region = load(out("region.ppm"));
        ASSERT_EQ(region.width, 20);
        ASSERT_EQ(region.height, 30);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 60; ++x) {
                const int higher = region.pixels[static_cast<size_t>(y) * 60 + x] -
                                   full.pixels[(static_cast<size_t>(y) + 5) * kW * 3 + 27 + x];
                ASSERT_TRUE(portable || x % 3 == 1 ? higher == 0 : (higher == 0 || higher == 1))
                    << "pixel (" << x / 3 << "," << y << ") channel " << x % 3 << " differs by " << higher;
            }
    }
    // A region reaching past the image is clipped to it.
    ASSERT_EQ(run_decode("'" + input_ + "' -o '" + out("clip.ppm") + "' --region 40,30,100,100").exit_code, 0);
    const Image clip = load(out("clip.ppm"));
    EXPECT_EQ(clip.width, kW - 40);
    EXPECT_EQ(clip.height, kH - 30);

    for (int scale : {2, 4, 8}) {
        SCOPED_TRACE(scale);
        const std::string file = out("scale" + std::to_string(scale) + ".ppm");
        ASSERT_EQ(run_decode("'" + input_ + "' -o '" + file + "' --scale " + std::to_string(scale)).exit_code, 0);
        const Image img = load(file);
        EXPECT_EQ(img.width, (kW + scale - 1) / scale);
        EXPECT_EQ(img.height, (kH + scale - 1) / scale);
        // Close to the full decode at the block centres.
        const DecodedImage ref = tj_decode(jpeg_, TJPF_RGB, kTjAccurate);
        ASSERT_TRUE(ref.ok());
        double err = 0;
        int n = 0;
        for (int y = 0; y + 1 < img.height; ++y)
            for (int x = 0; x + 1 < img.width; ++x)
                for (int ch = 0; ch < 3; ++ch) {
                    err += std::abs(int(img.pixels[(y * img.width + x) * 3 + ch]) -
                                    int(ref.pixels[((y * scale + scale / 2) * kW + x * scale + scale / 2) * 3 + ch]));
                    ++n;
                }
        EXPECT_LT(n > 0 ? err / n : 0.0, 40.0);
    }
}

TEST_F(CmdDecode, ThroughThePlugin) {
    const RunResult r = run_decode("'" + input_ + "' -o '" + out("plugin.ppm") + "' --via-plugin");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(load(out("plugin.ppm")).pixels, rgb_);
    EXPECT_EQ(run_decode("'" + input_ + "' -o '" + out("plugin2.ppm") + "' --via-plugin --fast").exit_code, 2);
}

TEST_F(CmdDecode, ErrorsNameTheFileAndTheCode) {
    std::vector<uint8_t> bad(jpeg_);
    bad[0] = 0x00;
    const std::string bad_path = write_bytes("bad.jpg", bad);
    const RunResult r = run_decode("'" + bad_path + "' -o '" + out("bad.png") + "'");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("bad.jpg"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::to_string(JPEG_NOT_JPEG)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(codec_error_text(JPEG_NOT_JPEG)), std::string::npos) << r.err;

    EXPECT_EQ(run_decode("'" + (work_dir() / "absent.jpg").string() + "' -o '" + out("x.png") + "'").exit_code, 1);
    EXPECT_EQ(run_decode("'" + input_ + "' -o '" + out("x.tiff") + "'").exit_code, 1);
    EXPECT_EQ(run_decode("'" + input_ + "'").exit_code, 2) << "a command-line error";
    EXPECT_EQ(run_decode("'" + input_ + "' -o '" + out("x.png") + "' --scale 3").exit_code, 2);
    EXPECT_EQ(run_decode("'" + input_ + "' -o '" + out("x.png") + "' --region 1,2,3").exit_code, 2);
    EXPECT_EQ(run_decode("'" + input_ + "' -o '" + out("x.png") + "' --region 60,0,5,5").exit_code, 1);
}

} // namespace
} // namespace qrl_test

#else

TEST(CmdDecode, Skipped) { GTEST_SKIP() << "skipped: the command-line program is not built"; }

#endif
