// The MCU hand-off under the output options: smoothed chroma (the one-MCU
// output lag at row and scan ends) and reduced-size decodes, for sequential
// and progressive files, whole, by region and interrupted after every MCU.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decode_test_util.h"
#include "support/oracle.h"

namespace qrl_test {
namespace {

struct ModeCase {
    const char *name;
    int h0, v0;
    int width, height;
    int restart_interval;
    bool progressive;
};

std::vector<uint8_t> make_file(const ModeCase &c) {
    LibjpegEncodeOptions o;
    o.width = c.width;
    o.height = c.height;
    o.restart_interval = c.restart_interval;
    o.progressive = c.progressive;
    o.h_samp[0] = c.h0;
    o.v_samp[0] = c.v0;
    o.h_samp[1] = o.v_samp[1] = o.h_samp[2] = o.v_samp[2] = 1;
    return libjpeg_encode(o);
}

class SmoothOutput : public ::testing::TestWithParam<ModeCase> {};

TEST_P(SmoothOutput, MatchesFancyUpsamplingAndStaysConsistent) {
    const ModeCase &c = GetParam();
    std::vector<uint8_t> jpeg = make_file(c);
    ASSERT_FALSE(jpeg.empty());
    DecodedImage ref = tj_decode(jpeg, TJPF_RGB, TJFLAG_ACCURATEDCT);
    ASSERT_TRUE(ref.ok()) << ref.error;
    DecodeRequest q;
    q.smooth = 1;
    DecodeResult whole = decode(jpeg, q);
    ASSERT_EQ(whole.result, JPEG_OK);
    EXPECT_TRUE(images_close(std::string("smooth_") + c.name, whole.pixels.data(), 0, ref.pixels.data(), 0,
                             whole.width, whole.height, 3, Limits{4, 0.5}));
    // Interrupted after every MCU: the same pixels.
    DecodeRequest iq = q;
    iq.interrupt_every_mcu = true;
    DecodeResult pieces = decode(jpeg, iq);
    ASSERT_EQ(pieces.result, JPEG_OK);
    EXPECT_EQ(pieces.pixels, whole.pixels);
    // Regions: the same rectangle of the whole decode.
    const int w = c.width, h = c.height;
    const int rects[][4] = {{0, 0, 1, 1}, {w - 1, h - 1, w, h}, {5, 9, w - 17, h - 3},
                            {16, 16, std::min(32, w), std::min(32, h)}, {0, h / 2, w, h / 2 + 1}};
    for (const auto &r : rects) {
        DecodeRequest rq = q;
        for (int i = 0; i < 4; ++i) rq.roi[i] = r[i];
        DecodeResult d = decode(jpeg, rq);
        ASSERT_EQ(d.result, JPEG_ROI_OK);
        EXPECT_EQ(d.pixels, crop(whole.pixels, w, 3, r[0], r[1], r[2], r[3]))
            << r[0] << "," << r[1] << "," << r[2] << "," << r[3];
        // The same region interrupted after every MCU.
        rq.interrupt_every_mcu = true;
        DecodeResult region_pieces = decode(jpeg, rq);
        ASSERT_EQ(region_pieces.result, JPEG_ROI_OK);
        EXPECT_EQ(region_pieces.pixels, d.pixels) << "interrupted " << r[0] << "," << r[1] << "," << r[2] << "," << r[3];
    }
}

const ModeCase kSmoothCases[] = {
    {"h2v1", 2, 1, 70, 37, 0, false},         {"h2v2", 2, 2, 67, 45, 0, false},
    {"h2v2_restart2", 2, 2, 64, 48, 2, false}, {"h2v1_progressive", 2, 1, 51, 30, 0, true},
    {"h2v2_progressive", 2, 2, 58, 41, 0, true},
};

INSTANTIATE_TEST_SUITE_P(Scan, SmoothOutput, ::testing::ValuesIn(kSmoothCases),
                         [](const ::testing::TestParamInfo<ModeCase> &p) { return std::string(p.param.name); });

class ScaledOutput : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ScaledOutput, CloseToBoxFilteredFullDecode) {
    const ModeCase &c = GetParam();
    std::vector<uint8_t> jpeg = make_file(c);
    ASSERT_FALSE(jpeg.empty());
    DecodeRequest q;
    DecodeResult full = decode(jpeg, q);
    ASSERT_EQ(full.result, JPEG_OK);
    for (int scale : {2, 4, 8}) {
        DecodeRequest sq;
        sq.scale = scale;
        DecodeResult d = decode(jpeg, sq);
        ASSERT_EQ(d.result, JPEG_OK) << scale;
        ASSERT_EQ(d.width, (c.width + scale - 1) / scale);
        // The box-filtered full-size decode, over output pixels whose box is
        // whole.
        double sum = 0;
        int64_t count = 0;
        for (int y = 0; (y + 1) * scale <= c.height; ++y) {
            for (int x = 0; (x + 1) * scale <= c.width; ++x) {
                for (int ch = 0; ch < 3; ++ch) {
                    int acc = 0;
                    for (int dy = 0; dy < scale; ++dy)
                        for (int dx = 0; dx < scale; ++dx)
                            acc += full.pixels[((y * scale + dy) * c.width + x * scale + dx) * 3 + ch];
                    const double box = static_cast<double>(acc) / (scale * scale);
                    const double ours = d.pixels[(static_cast<size_t>(y) * d.width + x) * 3 + ch];
                    sum += ours > box ? ours - box : box - ours;
                    ++count;
                }
            }
        }
        ASSERT_GT(count, 0);
        // In a 2x1 frame (not uniform) each chroma block is reduced to the
        // luma blocks' size and then doubled sideways, so chroma keeps half
        // the resolution of a box-filtered full decode; only uniform frames
        // are held to the box filter.
        const bool uniform = c.h0 == c.v0;
        if (uniform) {
            EXPECT_LT(sum / count, 6.0) << "scale " << scale;
        }
        // Interrupted and region decodes at this scale agree with the whole one.
        DecodeRequest iq = sq;
        iq.interrupt_every_mcu = true;
        DecodeResult pieces = decode(jpeg, iq);
        ASSERT_EQ(pieces.result, JPEG_OK);
        EXPECT_EQ(pieces.pixels, d.pixels) << "scale " << scale;
        if (d.width > 3 && d.height > 3) {
            DecodeRequest rq = sq;
            rq.roi[0] = 1;
            rq.roi[1] = 2;
            rq.roi[2] = d.width - 1;
            rq.roi[3] = d.height - 1;
            DecodeResult r = decode(jpeg, rq);
            ASSERT_EQ(r.result, JPEG_ROI_OK) << scale;
            EXPECT_EQ(r.pixels, crop(d.pixels, d.width, 3, 1, 2, d.width - 1, d.height - 1)) << "scale " << scale;
        }
    }
}

const ModeCase kScaledCases[] = {
    {"h1v1", 1, 1, 67, 45, 0, false},       {"h2v1", 2, 1, 70, 37, 3, false},
    {"h2v2", 2, 2, 95, 70, 0, false},       {"h2v2_progressive", 2, 2, 80, 64, 0, true},
    {"h1v1_progressive", 1, 1, 40, 33, 0, true},
};

INSTANTIATE_TEST_SUITE_P(Scan, ScaledOutput, ::testing::ValuesIn(kScaledCases),
                         [](const ::testing::TestParamInfo<ModeCase> &p) { return std::string(p.param.name); });

} // namespace
} // namespace qrl_test
