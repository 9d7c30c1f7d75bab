// Whole decodes through every output path of the pixel stage (fast
// routines, plane writers, in-place conversion, smoothing) against
// libjpeg-turbo's decode of the same file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_test_util.h"
#include "dispatch/kernel_table.h"
#include "support/oracle.h"

namespace {

using namespace qrl_test;

bool cpu_has_sse2() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

// The kernel sets the decodes run with: the portable set, and set A (SIMD
// transforms and the exact SIMD output kernels) where the processor runs it.
struct SetUnderTest {
    qrl::KernelSet set;
    const char *name;
    double mean_limit;
};
std::vector<SetUnderTest> sets_under_test() {
    std::vector<SetUnderTest> sets = {{qrl::KernelSet::Portable, "portable", 0.5}};
    if (cpu_has_sse2()) sets.push_back({qrl::KernelSet::A, "set A", 0.5});
    return sets;
}

DecodeResult decode_with_set(std::vector<uint8_t> jpeg, const DecodeRequest &q, qrl::KernelSet set) {
    Record rec = make_record();
    qrl::fill_kernel_set(rec->props.kernel_table, set);
    return decode_with(rec.get(), jpeg, q);
}

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

void check_case(const Case &c, const SetUnderTest &set) {
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
    const DecodeResult ours = decode_with_set(jpeg, q, set.set);
    ASSERT_EQ(ours.result, JPEG_OK) << c.name;
    const int flags = c.smooth == 1 ? TJFLAG_ACCURATEDCT : kTjAccurate;
    const DecodedImage ref = tj_decode(jpeg, c.tj_format, flags);
    ASSERT_TRUE(ref.ok()) << c.name << ": " << ref.error;
    ASSERT_EQ(ref.width, ours.width);
    ASSERT_EQ(ref.height, ours.height);
    EXPECT_TRUE(images_close(sanitize_name(std::string("pixels-") + set.name + "-" + c.name), ours.pixels.data(),
                             0, ref.pixels.data(), 0, ours.width, ours.height, c.channels,
                             Limits{4, set.mean_limit, 0}))
        << c.name << " with " << set.name;
    if (c.smooth == 1) {
        // Interpolation really happened: the replicated decode differs.
        q.smooth = 0;
        EXPECT_NE(decode_with_set(jpeg, q, set.set).pixels, ours.pixels) << c.name;
    }
}

TEST(PixelOutputOracle, EveryOutputPathAgainstLibjpegTurbo) {
    for (const SetUnderTest &set : sets_under_test())
        for (const Case &c : kCases) check_case(c, set);
}

// Reduced-size decodes against TurboJPEG's scaled decode (fast upsampling,
// accurate transform).
TEST(PixelOutputOracle, ScaledDecodes) {
    struct Scaled {
        const char *name;
        JpegLayout layout;
        std::vector<std::pair<int, int>> factors;
        int32_t image_color, channels;
        int tj_format;
    };
    const Scaled cases[] = {
        {"420", JpegLayout::ycbcr, {{2, 2}, {1, 1}, {1, 1}}, COLOR_RGB, 3, TJPF_RGB},
        {"422", JpegLayout::ycbcr, {{2, 1}, {1, 1}, {1, 1}}, COLOR_RGB, 3, TJPF_RGB},
        {"444 bgr", JpegLayout::ycbcr, {{1, 1}, {1, 1}, {1, 1}}, COLOR_BGR, 3, TJPF_BGR},
        {"gray", JpegLayout::gray, {}, COLOR_GRAY, 1, TJPF_GRAY},
        {"ycck 420", JpegLayout::ycck, {{2, 2}, {1, 1}, {1, 1}, {2, 2}}, COLOR_CMYK, 4, TJPF_CMYK},
    };
    for (const Scaled &c : cases) {
        LibjpegEncodeOptions o;
        o.width = 77;
        o.height = 45;
        o.layout = c.layout;
        for (size_t i = 0; i < c.factors.size(); ++i) {
            o.h_samp[i] = c.factors[i].first;
            o.v_samp[i] = c.factors[i].second;
        }
        std::vector<uint8_t> jpeg = libjpeg_encode(o);
        ASSERT_FALSE(jpeg.empty()) << c.name;
        for (int32_t scale : {2, 4, 8}) {
            DecodeRequest q;
            q.image_color = c.image_color;
            q.channels = c.channels;
            q.scale = scale;
            const DecodeResult ours = decode_with_set(jpeg, q, qrl::KernelSet::Portable);
            ASSERT_EQ(ours.result, JPEG_OK) << c.name << " 1/" << scale;
            const int w = (o.width + scale - 1) / scale, h = (o.height + scale - 1) / scale;
            ASSERT_EQ(ours.width, w);
            ASSERT_EQ(ours.height, h);
            tjhandle tj = tjInitDecompress();
            std::vector<uint8_t> ref(static_cast<size_t>(w) * h * c.channels);
            ASSERT_EQ(tjDecompress2(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), ref.data(), w, 0, h,
                                    c.tj_format, kTjAccurate),
                      0)
                << tjGetErrorStr2(tj);
            tjDestroy(tj);
            EXPECT_TRUE(images_close(sanitize_name(std::string("pixels-scaled-") + c.name + "-" + std::to_string(scale)),
                                     ours.pixels.data(), 0, ref.data(), 0, w, h, c.channels, Limits{8, 1.5, 0}))
                << c.name << " 1/" << scale;
        }
    }
}

} // namespace
