// Whole decodes through every output path of the pixel stage (fast
// routines, plane writers, in-place conversion, smoothing) against
// libjpeg-turbo's decode of the same file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_test_util.h"
#include "support/oracle.h"

namespace {

using namespace qrl_test;

struct Case {
    const char *name;
    JpegLayout layout;
    std::vector<std::pair<int, int>> factors; // empty: library default
    int width, height;
    int32_t image_color, channels;
    int tj_format;
    int32_t smooth;
    bool separate_scans;
};

const Case kCases[] = {
    {"444 rgb", JpegLayout::ycbcr, {{1, 1}, {1, 1}, {1, 1}}, 61, 37, COLOR_RGB, 3, TJPF_RGB, 0, false},
    {"422 rgb", JpegLayout::ycbcr, {{2, 1}, {1, 1}, {1, 1}}, 61, 37, COLOR_RGB, 3, TJPF_RGB, 0, false},
    {"420 rgb", JpegLayout::ycbcr, {{2, 2}, {1, 1}, {1, 1}}, 61, 37, COLOR_RGB, 3, TJPF_RGB, 0, false},
    {"420 bgr", JpegLayout::ycbcr, {{2, 2}, {1, 1}, {1, 1}}, 50, 33, COLOR_BGR, 3, TJPF_BGR, 0, false},
    {"422 bgr", JpegLayout::ycbcr, {{2, 1}, {1, 1}, {1, 1}}, 50, 33, COLOR_BGR, 3, TJPF_BGR, 0, false},
    {"444 bgr", JpegLayout::ycbcr, {{1, 1}, {1, 1}, {1, 1}}, 50, 33, COLOR_BGR, 3, TJPF_BGR, 0, false},
    {"440 rgb", JpegLayout::ycbcr, {{1, 2}, {1, 1}, {1, 1}}, 45, 39, COLOR_RGB, 3, TJPF_RGB, 0, false},
    {"411 rgb", JpegLayout::ycbcr, {{4, 1}, {1, 1}, {1, 1}}, 45, 39, COLOR_RGB, 3, TJPF_RGB, 0, false},
    {"420 to 4 channels", JpegLayout::ycbcr, {{2, 2}, {1, 1}, {1, 1}}, 40, 24, COLOR_CMYK, 4, TJPF_RGBX, 0, false},
    {"411 to 4 channels", JpegLayout::ycbcr, {{4, 1}, {1, 1}, {1, 1}}, 40, 24, COLOR_CMYK, 4, TJPF_RGBX, 0, false},
    {"420 to gray", JpegLayout::ycbcr, {{2, 2}, {1, 1}, {1, 1}}, 40, 24, COLOR_GRAY, 1, TJPF_GRAY, 0, false},
    {"gray", JpegLayout::gray, {}, 45, 27, COLOR_GRAY, 1, TJPF_GRAY, 0, false},
    {"gray 2x2 factors", JpegLayout::gray, {{2, 2}}, 45, 27, COLOR_GRAY, 1, TJPF_GRAY, 0, false},
    {"gray to rgb", JpegLayout::gray, {}, 45, 27, COLOR_RGB, 3, TJPF_RGB, 0, false},
    {"ycck 420 to cmyk", JpegLayout::ycck, {{2, 2}, {1, 1}, {1, 1}, {2, 2}}, 35, 19, COLOR_CMYK, 4, TJPF_CMYK, 0, false},
    {"ycck 422 to cmyk", JpegLayout::ycck, {{2, 1}, {1, 1}, {1, 1}, {2, 1}}, 35, 19, COLOR_CMYK, 4, TJPF_CMYK, 0, false},
    {"ycck 444 to cmyk", JpegLayout::ycck, {{1, 1}, {1, 1}, {1, 1}, {1, 1}}, 35, 19, COLOR_CMYK, 4, TJPF_CMYK, 0, false},
    {"cmyk to cmyk", JpegLayout::cmyk, {{1, 1}, {1, 1}, {1, 1}, {1, 1}}, 35, 19, COLOR_CMYK, 4, TJPF_CMYK, 0, false},
    {"rgb to rgb", JpegLayout::rgb, {{1, 1}, {1, 1}, {1, 1}}, 35, 19, COLOR_RGB, 3, TJPF_RGB, 0, false},
    {"rgb to bgr", JpegLayout::rgb, {{1, 1}, {1, 1}, {1, 1}}, 35, 19, COLOR_BGR, 3, TJPF_BGR, 0, false},
    {"422 smooth", JpegLayout::ycbcr, {{2, 1}, {1, 1}, {1, 1}}, 61, 37, COLOR_RGB, 3, TJPF_RGB, 1, false},
    {"420 smooth", JpegLayout::ycbcr, {{2, 2}, {1, 1}, {1, 1}}, 61, 37, COLOR_RGB, 3, TJPF_RGB, 1, false},
    {"420 separate scans", JpegLayout::ycbcr, {{2, 2}, {1, 1}, {1, 1}}, 61, 37, COLOR_RGB, 3, TJPF_RGB, 0, true},
    {"422 separate scans bgr", JpegLayout::ycbcr, {{2, 1}, {1, 1}, {1, 1}}, 61, 37, COLOR_BGR, 3, TJPF_BGR, 0, true},
};

TEST(PixelOutputOracle, EveryOutputPathAgainstLibjpegTurbo) {
    for (const Case &c : kCases) {
        LibjpegEncodeOptions o;
        o.width = c.width;
        o.height = c.height;
        o.layout = c.layout;
        for (size_t i = 0; i < c.factors.size(); ++i) {
            o.h_samp[i] = c.factors[i].first;
            o.v_samp[i] = c.factors[i].second;
        }
        o.scan_per_component = c.separate_scans;
        std::vector<uint8_t> jpeg = libjpeg_encode(o);
        ASSERT_FALSE(jpeg.empty()) << c.name;
        DecodeRequest q;
        q.image_color = c.image_color;
        q.channels = c.channels;
        q.smooth = c.smooth;
        const DecodeResult ours = decode(jpeg, q);
        ASSERT_EQ(ours.result, JPEG_OK) << c.name;
        const int flags = c.smooth == 1 ? TJFLAG_ACCURATEDCT : kTjAccurate;
        const DecodedImage ref = tj_decode(jpeg, c.tj_format, flags);
        ASSERT_TRUE(ref.ok()) << c.name << ": " << ref.error;
        ASSERT_EQ(ref.width, ours.width);
        ASSERT_EQ(ref.height, ours.height);
        EXPECT_TRUE(images_close(sanitize_name(std::string("pixels-") + c.name), ours.pixels.data(), 0,
                                 ref.pixels.data(), 0, ours.width, ours.height, c.channels, Limits{4, 0.5, 0}))
            << c.name;
        if (c.smooth == 1) {
            // Interpolation really happened: the replicated decode differs.
            q.smooth = 0;
            EXPECT_NE(decode(jpeg, q).pixels, ours.pixels) << c.name;
        }
    }
}

} // namespace
