// Reduced-size output of whole files: the one-pass writers for the common
// YCbCr layouts agree with the general plane writers (reached with
// smoothing on, which 4:4:4 and 2x2 frames ignore at reduced scale), BGR
// output is RGB output with red and blue exchanged, and regions are crops.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "decode_test_util.h"
#include "support/oracle.h"

namespace qrl_test {
namespace {

struct LayoutCase {
    const char *name;
    int h0, v0;
    bool progressive;
    bool smoothing_ignored; // smoothing changes nothing at reduced scale
};

const LayoutCase kLayouts[] = {
    {"h1v1", 1, 1, false, true},
    {"h2v2", 2, 2, false, true},
    {"h2v2_progressive", 2, 2, true, true},
    {"h2v1", 2, 1, false, false},
    {"h2v1_progressive", 2, 1, true, false},
};

std::vector<uint8_t> make_file(const LayoutCase &c) {
    LibjpegEncodeOptions o;
    o.width = 83; // partial MCUs at the right and bottom at every scale
    o.height = 59;
    o.h_samp[0] = c.h0;
    o.v_samp[0] = c.v0;
    o.h_samp[1] = o.v_samp[1] = o.h_samp[2] = o.v_samp[2] = 1;
    o.progressive = c.progressive;
    return libjpeg_encode(o);
}

std::vector<uint8_t> swap_red_blue(std::vector<uint8_t> pixels) {
    for (size_t i = 0; i + 2 < pixels.size(); i += 3) std::swap(pixels[i], pixels[i + 2]);
    return pixels;
}

class ScaledWriters : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ScaledWriters, OnePassWritersAgreeWithThePlaneWriters) {
    const LayoutCase &c = GetParam();
    std::vector<uint8_t> jpeg = make_file(c);
    ASSERT_FALSE(jpeg.empty());
    for (int scale : {2, 4, 8}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        DecodeRequest q;
        q.scale = scale;
        const DecodeResult rgb = decode(jpeg, q);
        ASSERT_EQ(rgb.result, JPEG_OK);
        ASSERT_EQ(rgb.width, (83 + scale - 1) / scale);
        ASSERT_EQ(rgb.height, (59 + scale - 1) / scale);

        DecodeRequest bq = q;
        bq.image_color = COLOR_BGR;
        const DecodeResult bgr = decode(jpeg, bq);
        ASSERT_EQ(bgr.result, JPEG_OK);
        EXPECT_EQ(bgr.pixels, swap_red_blue(rgb.pixels));

        if (c.smoothing_ignored) {
            DecodeRequest sq = q;
            sq.smooth = 1;
            const DecodeResult smooth = decode(jpeg, sq);
            ASSERT_EQ(smooth.result, JPEG_OK);
            EXPECT_EQ(smooth.pixels, rgb.pixels);
        }

        const int w = rgb.width, h = rgb.height;
        for (bool file : {false, true}) {
            DecodeRequest rq = bq;
            rq.file = file;
            rq.roi[0] = 1;
            rq.roi[1] = h / 3;
            rq.roi[2] = w - 2;
            rq.roi[3] = h;
            const DecodeResult part = decode(jpeg, rq);
            ASSERT_EQ(part.result, JPEG_ROI_OK);
            EXPECT_EQ(part.pixels, crop(bgr.pixels, w, 3, 1, h / 3, w - 2, h)) << (file ? "file" : "memory");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ScaledWriters, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<LayoutCase> &p) { return std::string(p.param.name); });

} // namespace
} // namespace qrl_test
