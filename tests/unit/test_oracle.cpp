// Checks the test oracle itself: every encoder helper yields a file that the
// reference decoder reads back close to the synthetic source.
#include <gtest/gtest.h>

#include "support/oracle.h"

namespace qrl_test {
namespace {

TEST(Oracle, SyntheticPixelsAreDeterministicAndVaried) {
    const auto a = synthetic_pixels(37, 29, 3, 7);
    const auto b = synthetic_pixels(37, 29, 3, 7);
    const auto c = synthetic_pixels(37, 29, 3, 8);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    bool has0 = false, has255 = false;
    for (uint8_t v : a) { has0 |= v == 0; has255 |= v == 255; }
    EXPECT_TRUE(has0 && has255);
}

struct TjCase { const char *name; int pf; int samp; int flags; };

TEST(Oracle, TurboJpegRoundTripIsClose) {
    const TjCase cases[] = {
        {"rgb444", TJPF_RGB, TJSAMP_444, 0},
        {"rgb420", TJPF_RGB, TJSAMP_420, 0},
        {"rgb422_prog", TJPF_RGB, TJSAMP_422, TJFLAG_PROGRESSIVE},
        {"gray", TJPF_GRAY, TJSAMP_GRAY, 0},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        TjEncodeOptions o;
        o.width = 45; o.height = 31; o.pixel_format = tc.pf; o.subsampling = tc.samp; o.quality = 98; o.flags = tc.flags;
        const auto jpeg = tj_encode(o);
        ASSERT_FALSE(jpeg.empty());
        const auto img = tj_decode(jpeg, tc.pf, kTjAccurate);
        ASSERT_TRUE(img.ok()) << img.error;
        const auto src = synthetic_pixels(45, 31, img.channels, 1);
        const auto d = compare_images(img.pixels.data(), 0, src.data(), 0, 45, 31, img.channels);
        EXPECT_GT(d.psnr, 25.0);
    }
}

TEST(Oracle, LibjpegLayoutsDecode) {
    struct Case { const char *name; JpegLayout layout; int pf; int restart; bool ext; bool per_comp; int h0, v0; };
    const Case cases[] = {
        {"restart", JpegLayout::ycbcr, TJPF_RGB, 3, false, false, 0, 0},
        {"extended", JpegLayout::ycbcr, TJPF_RGB, 0, true, false, 0, 0},
        {"multiscan", JpegLayout::ycbcr, TJPF_RGB, 0, false, true, 0, 0},
        {"gray", JpegLayout::gray, TJPF_GRAY, 0, false, false, 0, 0},
        {"cmyk", JpegLayout::cmyk, TJPF_CMYK, 0, false, false, 0, 0},
        {"ycck", JpegLayout::ycck, TJPF_CMYK, 0, false, false, 0, 0},
        {"h1v2", JpegLayout::ycbcr, TJPF_RGB, 0, false, false, 1, 2},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(tc.name);
        LibjpegEncodeOptions o;
        o.width = 50; o.height = 35; o.layout = tc.layout; o.restart_interval = tc.restart;
        o.extended = tc.ext; o.scan_per_component = tc.per_comp; o.quality = 95;
        o.h_samp[0] = tc.h0; o.v_samp[0] = tc.v0;
        const auto jpeg = libjpeg_encode(o);
        ASSERT_FALSE(jpeg.empty());
        if (tc.ext) {
            bool sof1 = false;
            for (size_t i = 0; i + 1 < jpeg.size(); ++i) sof1 |= jpeg[i] == 0xFF && jpeg[i + 1] == 0xC1;
            EXPECT_TRUE(sof1);
        }
        if (tc.restart) {
            bool dri = false;
            for (size_t i = 0; i + 1 < jpeg.size(); ++i) dri |= jpeg[i] == 0xFF && jpeg[i + 1] == 0xDD;
            EXPECT_TRUE(dri);
        }
        const auto img = tj_decode(jpeg, tc.pf, kTjAccurate);
        ASSERT_TRUE(img.ok()) << img.error;
        EXPECT_EQ(img.width, 50);
        EXPECT_EQ(img.height, 35);
    }
}

TEST(Oracle, ImagesCloseReportsAndWritesDiff) {
    auto a = synthetic_pixels(20, 10, 3, 3);
    auto b = a;
    EXPECT_TRUE(images_close("oracle_same", a.data(), 0, b.data(), 0, 20, 10, 3, Limits{0, 0.0, 0.0}));
    b[5] ^= 0x40;
    const auto r = images_close("oracle_diff", a.data(), 0, b.data(), 0, 20, 10, 3, Limits{4, 0.5, 0.0});
    EXPECT_FALSE(r);
    EXPECT_NE(std::string(r.message()).find("-diff.png"), std::string::npos);
}

} // namespace
} // namespace qrl_test
