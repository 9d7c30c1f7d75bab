// Sequential scans end to end: files made by libjpeg-turbo decoded through
// codec_read and compared with libjpeg-turbo's own decode; restart intervals,
// interrupted decoding, coefficient planes and damaged entropy data.
#include <vector>

#include <gtest/gtest.h>

#include "decode_test_util.h"
#include "support/oracle.h"

namespace qrl_test {
namespace {

struct OracleCase {
    const char *name;
    int pixel_format; // TJPF_RGB or TJPF_GRAY
    int subsampling;
    int width, height;
    int restart_interval; // in MCUs, libjpeg encoder
    bool progressive;
};

std::vector<uint8_t> make_jpeg(const OracleCase &c) {
    if (c.restart_interval == 0) {
        TjEncodeOptions o;
        o.width = c.width;
        o.height = c.height;
        o.pixel_format = c.pixel_format;
        o.subsampling = c.subsampling;
        o.flags = c.progressive ? TJFLAG_PROGRESSIVE : 0;
        return tj_encode(o);
    }
    LibjpegEncodeOptions o;
    o.width = c.width;
    o.height = c.height;
    o.layout = c.pixel_format == TJPF_GRAY ? JpegLayout::gray : JpegLayout::ycbcr;
    o.restart_interval = c.restart_interval;
    o.progressive = c.progressive;
    if (c.pixel_format != TJPF_GRAY) {
        const int h = c.subsampling == TJSAMP_444 ? 1 : 2;
        const int v = c.subsampling == TJSAMP_420 ? 2 : 1;
        o.h_samp[0] = h;
        o.v_samp[0] = v;
        o.h_samp[1] = o.v_samp[1] = o.h_samp[2] = o.v_samp[2] = 1;
    }
    return libjpeg_encode(o);
}

class SequentialOracle : public ::testing::TestWithParam<OracleCase> {};

TEST_P(SequentialOracle, MatchesReferenceDecode) {
    const OracleCase &c = GetParam();
    std::vector<uint8_t> jpeg = make_jpeg(c);
    ASSERT_FALSE(jpeg.empty());
    const bool gray = c.pixel_format == TJPF_GRAY;
    DecodedImage ref = tj_decode(jpeg, gray ? TJPF_GRAY : TJPF_RGB, kTjAccurate);
    ASSERT_TRUE(ref.ok()) << ref.error;
    for (bool file : {false, true}) {
        DecodeRequest q;
        q.image_color = gray ? COLOR_GRAY : COLOR_RGB;
        q.channels = gray ? 1 : 3;
        q.file = file;
        DecodeResult d = decode(jpeg, q);
        ASSERT_EQ(d.result, JPEG_OK) << (file ? "file" : "memory");
        ASSERT_EQ(d.width, ref.width);
        ASSERT_EQ(d.height, ref.height);
        EXPECT_TRUE(images_close(std::string(c.name) + (file ? "_file" : "_mem"), d.pixels.data(), 0,
                                 ref.pixels.data(), 0, d.width, d.height, q.channels, Limits{4, 0.5}));
    }
}

const OracleCase kOracleCases[] = {
    {"gray", TJPF_GRAY, TJSAMP_GRAY, 61, 37, 0, false},
    {"s444", TJPF_RGB, TJSAMP_444, 64, 48, 0, false},
    {"s422", TJPF_RGB, TJSAMP_422, 77, 45, 0, false},
    {"s420", TJPF_RGB, TJSAMP_420, 95, 67, 0, false},
    {"s420_tiny", TJPF_RGB, TJSAMP_420, 1, 1, 0, false},
    {"restart1_420", TJPF_RGB, TJSAMP_420, 70, 50, 1, false},
    {"restart3_444", TJPF_RGB, TJSAMP_444, 70, 50, 3, false},
    {"restart1_gray", TJPF_GRAY, TJSAMP_GRAY, 40, 24, 1, false},
    {"restart7_422", TJPF_RGB, TJSAMP_422, 90, 33, 7, false},
};

INSTANTIATE_TEST_SUITE_P(Scan, SequentialOracle, ::testing::ValuesIn(kOracleCases),
                         [](const ::testing::TestParamInfo<OracleCase> &p) { return std::string(p.param.name); });

} // namespace
} // namespace qrl_test
