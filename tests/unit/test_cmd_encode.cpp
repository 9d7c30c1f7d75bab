// `quorrel encode` end to end (runs the built program): every input format,
// the options, abbreviated pairs and refused requests.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <png.h>
#include <turbojpeg.h>

#include "support/corpus.h"
#include "support/oracle.h"

namespace qrl_test {
namespace {

namespace fs = std::filesystem;

const std::string kCli = std::string(QRL_BINARY_DIR) + "/tools/quorrel";

// One folder per test: ctest runs the tests as separate processes in parallel.
fs::path work_dir() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir = fs::path(QRL_BINARY_DIR) / "test_cmd_encode" /
                         (std::string(info->test_suite_name()) + "." + info->name());
    fs::create_directories(dir);
    return dir;
}

std::string in_work_dir(const std::string &name) { return (work_dir() / name).string(); }

void write_file(const std::string &path, const std::string &header, const std::vector<uint8_t> &body) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(header.data(), 1, header.size(), f);
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
}

void put_le(std::string &s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A 24-bit BMP: bottom-up rows of B, G, R, each padded to four bytes.
void write_bmp(const std::string &path, const std::vector<uint8_t> &rgb, int w, int h) {
    const int row = (w * 3 + 3) / 4 * 4;
    std::vector<uint8_t> body(static_cast<size_t>(row) * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                body[static_cast<size_t>((h - 1 - y) * row + x * 3 + c)] = rgb[static_cast<size_t>((y * w + x) * 3 + 2 - c)];
    std::string hdr = "BM";
    put_le(hdr, static_cast<uint32_t>(54 + body.size()), 4);
    put_le(hdr, 0, 4);
    put_le(hdr, 54, 4);
    put_le(hdr, 40, 4);
    put_le(hdr, static_cast<uint32_t>(w), 4);
    put_le(hdr, static_cast<uint32_t>(h), 4);
    put_le(hdr, 1, 2);
    put_le(hdr, 24, 2);
    put_le(hdr, 0, 4);
    put_le(hdr, static_cast<uint32_t>(body.size()), 4);
    put_le(hdr, 2835, 4);
    put_le(hdr, 2835, 4);
    put_le(hdr, 0, 4);
    put_le(hdr, 0, 4);
    write_file(path, hdr, body);
}

void write_png(const std::string &path, const std::vector<uint8_t> &pixels, int w, int h, int channels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = channels == 4 ? PNG_FORMAT_RGBA : channels == 1 ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
    ASSERT_NE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr), 0) << path;
}

// Runs `quorrel encode ARGS`; returns the exit status (-1 when it did not exit).
int run_encode(const std::string &args) {
    const std::string cmd = "'" + kCli + "' encode " + args + " >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CmdEncode : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kCli)) GTEST_SKIP() << "skipped: the quorrel program is not built";
    }
};

struct Header {
    int width = 0, height = 0, subsampling = -1, colorspace = -1;
};
Header header_of(const std::vector<uint8_t> &jpeg) {
    Header h;
    tjhandle tj = tjInitDecompress();
    if (tjDecompressHeader3(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &h.width, &h.height,
                            &h.subsampling, &h.colorspace) != 0)
        h.width = 0;
    tjDestroy(tj);
    return h;
}

bool has_marker(const std::vector<uint8_t> &jpeg, uint8_t marker) {
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == marker) return true;
    return false;
}

constexpr int kW = 45, kH = 29;

TEST_F(CmdEncode, EveryInputFormat) {
    const std::vector<uint8_t> rgb = synthetic_pixels(kW, kH, 3);
    const std::vector<uint8_t> gray = synthetic_pixels(kW, kH, 1);
    const std::vector<uint8_t> four = synthetic_pixels(kW, kH, 4);
    const std::string dims = std::to_string(kW) + " " + std::to_string(kH);
    const std::string pam_dims = "WIDTH " + std::to_string(kW) + "\nHEIGHT " + std::to_string(kH) + "\n";
    struct Case {
        const char *name;
        int channels;        // of the source
        int jpeg_colorspace; // TJCS_* of the result
        int tj_format;       // to compare with the source
    };
    const Case cases[] = {
        {"in.ppm", 3, TJCS_YCbCr, TJPF_RGB},   {"in.pgm", 1, TJCS_GRAY, TJPF_GRAY},
        {"rgb.pam", 3, TJCS_YCbCr, TJPF_RGB},  {"cmyk.pam", 4, TJCS_CMYK, TJPF_CMYK},
        {"in.bmp", 3, TJCS_YCbCr, TJPF_RGB},   {"rgb.png", 3, TJCS_YCbCr, TJPF_RGB},
        {"rgba.png", 4, TJCS_YCbCr, TJPF_RGB}, {"gray.png", 1, TJCS_GRAY, TJPF_GRAY},
    };
    for (const Case &c : cases) {
        const std::string name = c.name, in = in_work_dir(name), out = in_work_dir(name + ".jpg");
        const std::vector<uint8_t> &src = c.channels == 1 ? gray : c.channels == 4 ? four : rgb;
        if (name == "in.ppm") write_file(in, "P6\n" + dims + "\n255\n", rgb);
        if (name == "in.pgm") write_file(in, "P5\n" + dims + "\n255\n", gray);
        if (name == "rgb.pam") write_file(in, "P7\n" + pam_dims + "DEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n", rgb);
        if (name == "cmyk.pam") write_file(in, "P7\n" + pam_dims + "DEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n", four);
        if (name == "in.bmp") write_bmp(in, rgb, kW, kH);
        if (name.find(".png") != std::string::npos) write_png(in, src, kW, kH, c.channels);
        ASSERT_EQ(run_encode("'" + in + "' -o '" + out + "' --quality 95 --subsampling 444"), 0) << name;
        const std::vector<uint8_t> jpeg = read_file_bytes(out);
        const Header h = header_of(jpeg);
        EXPECT_EQ(h.width, kW) << name;
        EXPECT_EQ(h.height, kH) << name;
        EXPECT_EQ(h.colorspace, c.jpeg_colorspace) << name;
        const DecodedImage d = tj_decode(jpeg, c.tj_format, kTjAccurate);
        ASSERT_TRUE(d.ok()) << name << ": " << d.error;
        // The source's colour channels (the alpha of RGBA is dropped).
        const int channels = tj_pixel_size(c.tj_format);
        std::vector<uint8_t> expected(static_cast<size_t>(kW) * kH * static_cast<size_t>(channels));
        for (size_t i = 0; i < static_cast<size_t>(kW) * kH; ++i)
            for (int k = 0; k < channels; ++k)
                expected[i * static_cast<size_t>(channels) + static_cast<size_t>(k)] =
                    src[i * static_cast<size_t>(c.channels) + static_cast<size_t>(k)];
        EXPECT_GE(compare_images(d.pixels.data(), 0, expected.data(), 0, kW, kH, channels).psnr, 30.0) << name;
    }
}

TEST_F(CmdEncode, OptionsReachTheStream) {
    const std::vector<uint8_t> rgb = synthetic_pixels(kW, kH, 3);
    const std::string in = in_work_dir("in.ppm");
    write_file(in, "P6\n" + std::to_string(kW) + " " + std::to_string(kH) + "\n255\n", rgb);
    struct Case {
        const char *options;
        int subsampling; // TJSAMP_*
        bool progressive, restart;
        const char *comment;
    };
    const Case cases[] = {
        {"", TJSAMP_420, false, false, "quorrel"},
        {"--subsampling 444", TJSAMP_444, false, false, nullptr},
        {"--subsampling 422", TJSAMP_422, false, false, nullptr},
        {"--subsampling 420 --fast --quality 40", TJSAMP_420, false, false, nullptr},
        {"--gray", TJSAMP_GRAY, false, false, nullptr},
        {"--progressive", TJSAMP_420, true, false, nullptr},
        {"--restart 2", TJSAMP_420, false, true, nullptr},
        {"--comment 'made by a test'", TJSAMP_420, false, false, "made by a test"},
    };
    for (const Case &c : cases) {
        const std::string out = in_work_dir("out.jpg");
        ASSERT_EQ(run_encode("'" + in + "' -o '" + out + "' " + c.options), 0) << c.options;
        const std::vector<uint8_t> jpeg = read_file_bytes(out);
        EXPECT_EQ(header_of(jpeg).subsampling, c.subsampling) << c.options;
        EXPECT_EQ(has_marker(jpeg, 0xC2), c.progressive) << c.options;
        EXPECT_EQ(has_marker(jpeg, 0xDD), c.restart) << c.options;
        if (c.comment != nullptr) {
            EXPECT_NE(std::string(jpeg.begin(), jpeg.end()).find(c.comment), std::string::npos) << c.options;
        }
        EXPECT_TRUE(tj_decode(jpeg, TJPF_RGB, kTjAccurate).ok()) << c.options;
    }
}

TEST_F(CmdEncode, TablesOnlyAndImageOnlyMakeTheCompleteStream) {
    const std::vector<uint8_t> rgb = synthetic_pixels(kW, kH, 3);
    const std::string in = in_work_dir("in.ppm");
    write_file(in, "P6\n" + std::to_string(kW) + " " + std::to_string(kH) + "\n255\n", rgb);
    const std::string whole = in_work_dir("whole.jpg"), tables = in_work_dir("tables.jpg"),
                      image = in_work_dir("image.jpg");
    ASSERT_EQ(run_encode("'" + in + "' -o '" + whole + "'"), 0);
    ASSERT_EQ(run_encode("'" + in + "' -o '" + tables + "' --tables-only"), 0);
    ASSERT_EQ(run_encode("'" + in + "' -o '" + image + "' --image-only"), 0);
    const std::vector<uint8_t> w = read_file_bytes(whole), t = read_file_bytes(tables), i = read_file_bytes(image);
    ASSERT_GE(t.size(), 4u);
    ASSERT_GE(i.size(), 4u);
    EXPECT_FALSE(has_marker(i, 0xDB)) << "the image-only stream has no tables";
    std::vector<uint8_t> joined(t.begin(), t.end() - 2);
    joined.insert(joined.end(), i.begin() + 2, i.end());
    EXPECT_EQ(joined, w);
}

TEST_F(CmdEncode, RefusedRequestsExitWithAnError) {
    const std::string in = in_work_dir("in.ppm");
    write_file(in, "P6\n8 8\n255\n", std::vector<uint8_t>(8 * 8 * 3, 90));
    const std::string out = "'" + in_work_dir("out.jpg") + "'";
    struct Case {
        std::string args;
        int status;
    };
    const Case cases[] = {
        {"'" + in + "' -o " + out + " --quality 0", 2},
        {"'" + in + "' -o " + out + " --subsampling 411", 2},
        {"'" + in + "' -o " + out + " --restart 70000", 2},
        {"'" + in + "' -o " + out + " --frobnicate", 2},
        {"'" + in + "'", 2},
        {"'" + in_work_dir("missing.ppm") + "' -o " + out, 1},
        {"'" + in + "' -o '" + in_work_dir("no/such/folder/out.jpg") + "'", 1},
    };
    for (const Case &c : cases) EXPECT_EQ(run_encode(c.args), c.status) << c.args;
}

} // namespace
} // namespace qrl_test
