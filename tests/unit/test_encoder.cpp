// Round trips of the encoder: streams written by codec_write decoded with the
// reference decoder and compared with the source pixels and with the
// reference encoder's result at the same settings; abbreviated pairs,
// interrupted encodes, bottom-up and padded sources, refused requests.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "encode_test_util.h"
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
