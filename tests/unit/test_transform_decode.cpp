// Whole decodes through codec_read that depend on the transform families: the
// fast method on files whose quantizers are too large for fast tables, and both
// families against libjpeg-turbo, for the portable set and SIMD set D.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "decode_test_util.h"
#include "support/oracle.h"

namespace {

struct CpuClass {
    explicit CpuClass(int value) {
        const char *old = std::getenv("QUORREL_USECPU");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("QUORREL_USECPU", std::to_string(value).c_str(), 1);
    }
    ~CpuClass() {
        if (had_) setenv("QUORREL_USECPU", old_.c_str(), 1);
        else unsetenv("QUORREL_USECPU");
    }
    bool had_ = false;
    std::string old_;
};

bool cpu_has_sse2() {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

struct Picture {
    int quality;
    int subsampling;
    int pixel_format;
    const char *name;
};

// Quality 5 and 1: DC quantizers of 128 or more and most AC quantizers at 255,
// which the fast derived table cannot hold.
const Picture kCoarse[] = {
    {5, TJSAMP_420, TJPF_RGB, "q5-420"},
    {5, TJSAMP_444, TJPF_RGB, "q5-444"},
    {1, TJSAMP_422, TJPF_RGB, "q1-422"},
    {5, TJSAMP_GRAY, TJPF_GRAY, "q5-gray"},
};

std::vector<uint8_t> encode(const Picture &p) {
    qrl_test::TjEncodeOptions o;
    o.width = 96;
    o.height = 64;
    o.quality = p.quality;
    o.subsampling = p.subsampling;
    o.pixel_format = p.pixel_format;
    return qrl_test::tj_encode(o);
}

qrl_test::DecodeRequest request(const Picture &p, int32_t dct_method) {
    qrl_test::DecodeRequest q;
    q.dct_method = dct_method;
    if (p.pixel_format == TJPF_GRAY) {
        q.image_color = COLOR_GRAY;
        q.channels = 1;
    }
    return q;
}

class TransformDecode : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (GetParam() != 0 && !cpu_has_sse2()) GTEST_SKIP() << "SSE2 not available for class " << GetParam();
    }
};

TEST_P(TransformDecode, FastMethodWithCoarseTablesGivesTheAccuratePixels) {
    CpuClass cpu(GetParam());
    for (const Picture &p : kCoarse) {
        const auto jpeg = encode(p);
        ASSERT_FALSE(jpeg.empty());
        const auto fast = qrl_test::decode(jpeg, request(p, 0));
        const auto accurate = qrl_test::decode(jpeg, request(p, 1));
        ASSERT_EQ(fast.result, JPEG_OK) << p.name;
        ASSERT_EQ(accurate.result, JPEG_OK) << p.name;
        EXPECT_EQ(fast.pixels, accurate.pixels) << p.name;

        // The SIMD color conversion rounds its red and blue terms down for some
        // chroma values (a documented difference of one level), which at this
        // coarse quantization moves the mean of a color picture past 0.5.
        const bool simd_color = GetParam() != 0 && p.pixel_format != TJPF_GRAY;
        const auto ref = qrl_test::tj_decode(jpeg, p.pixel_format, qrl_test::kTjAccurate);
        ASSERT_TRUE(ref.ok()) << ref.error;
        EXPECT_TRUE(qrl_test::images_close(std::string("fallback-") + p.name, fast.pixels.data(), 0,
                                           ref.pixels.data(), 0, ref.width, ref.height, ref.channels,
                                           {4, simd_color ? 0.75 : 0.5, 0.0}));
    }
}

TEST_P(TransformDecode, BothFamiliesStayCloseToTheReference) {
    CpuClass cpu(GetParam());
    for (int quality : {50, 90, 100}) {
        const Picture p{quality, TJSAMP_420, TJPF_RGB, "ordinary"};
        const auto jpeg = encode(p);
        ASSERT_FALSE(jpeg.empty());
        const auto ref = qrl_test::tj_decode(jpeg, TJPF_RGB, qrl_test::kTjAccurate);
        ASSERT_TRUE(ref.ok()) << ref.error;
        const auto accurate = qrl_test::decode(jpeg, request(p, 1));
        const auto fast = qrl_test::decode(jpeg, request(p, 0));
        ASSERT_EQ(accurate.result, JPEG_OK);
        ASSERT_EQ(fast.result, JPEG_OK);
        const std::string tag = "class" + std::to_string(GetParam()) + "-q" + std::to_string(quality);
        EXPECT_TRUE(qrl_test::images_close("accurate-" + tag, accurate.pixels.data(), 0, ref.pixels.data(), 0,
                                           ref.width, ref.height, 3, {4, 0.5, 0.0}));
        EXPECT_TRUE(qrl_test::images_close("fast-" + tag, fast.pixels.data(), 0, ref.pixels.data(), 0,
                                           ref.width, ref.height, 3, {255, 1e9, 40.0}));
    }
}

INSTANTIATE_TEST_SUITE_P(Classes, TransformDecode, ::testing::Values(0, 6),
                         [](const ::testing::TestParamInfo<int> &i) { return "class" + std::to_string(i.param); });

} // namespace
