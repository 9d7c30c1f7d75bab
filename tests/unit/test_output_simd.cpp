// SSE2 output kernels against the portable kernels: identical bytes except
// the documented rounding of the red and blue terms, which a scalar model of
// the SIMD arithmetic reproduces exactly. Skips where the kernels are not
// built (not x86) or the processor lacks SSE2.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "dispatch/kernel_table.h"
#include "pixels/color_kernels.h"
#include "pixel_test_props.h"

namespace {

using namespace qrl;
using qrl_test::kPoison;

const KernelSet kSimdSets[] = {KernelSet::A, KernelSet::B, KernelSet::C, KernelSet::D};

bool cpu_has_sse2() {
#if defined(QRL_X86_SIMD) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("sse2");
#else
    return false;
#endif
}

enum class Fmt { Rgb, Bgr, Rgba, Cmyk, Gray, Packed };

struct Slot {
    const char *name;
    Put3Fn simd3;
    Put4Fn simd4;
    Put1Fn simd1;
    Fmt fmt;
    int32_t qx, qy;
};

#ifdef QRL_X86_SIMD

const Slot kSlots[] = {
    {"ycc_to_rgb_h1v1", ycc_to_rgb_h1v1_sse2, nullptr, nullptr, Fmt::Rgb, 1, 1},
    {"ycc_to_rgb_h2v1", ycc_to_rgb_h2v1_sse2, nullptr, nullptr, Fmt::Rgb, 2, 1},
    {"ycc_to_rgb_h2v2", ycc_to_rgb_h2v2_sse2, nullptr, nullptr, Fmt::Rgb, 2, 2},
    {"ycc_to_bgr_h1v1", ycc_to_bgr_h1v1_sse2, nullptr, nullptr, Fmt::Bgr, 1, 1},
    {"ycc_to_bgr_h2v1", ycc_to_bgr_h2v1_sse2, nullptr, nullptr, Fmt::Bgr, 2, 1},
    {"ycc_to_bgr_h2v2", ycc_to_bgr_h2v2_sse2, nullptr, nullptr, Fmt::Bgr, 2, 2},
    {"ycc_to_rgba_h1v1", ycc_to_rgba_h1v1_sse2, nullptr, nullptr, Fmt::Rgba, 1, 1},
    {"ycc_to_rgba_h2v1", ycc_to_rgba_h2v1_sse2, nullptr, nullptr, Fmt::Rgba, 2, 1},
    {"ycc_to_rgba_h2v2", ycc_to_rgba_h2v2_sse2, nullptr, nullptr, Fmt::Rgba, 2, 2},
    {"ycck_to_cmyk_h1v1", nullptr, ycck_to_cmyk_h1v1_sse2, nullptr, Fmt::Cmyk, 1, 1},
    {"ycck_to_cmyk_h2v1", nullptr, ycck_to_cmyk_h2v1_sse2, nullptr, Fmt::Cmyk, 2, 1},
    {"ycck_to_cmyk_h2v2", nullptr, ycck_to_cmyk_h2v2_sse2, nullptr, Fmt::Cmyk, 2, 2},
    {"ycc_to_packed422", ycc_to_packed422_sse2, nullptr, nullptr, Fmt::Packed, 2, 1},
    {"put_gray_8x8", nullptr, nullptr, put_gray_8x8_sse2, Fmt::Gray, 1, 1},
};
// Set D's twins on processors with AVX2 (run only there).
const Slot kAvx2Slots[] = {
    {"ycc_to_rgb_h1v1_avx2", ycc_to_rgb_h1v1_avx2, nullptr, nullptr, Fmt::Rgb, 1, 1},
    {"ycc_to_rgb_h2v1_avx2", ycc_to_rgb_h2v1_avx2, nullptr, nullptr, Fmt::Rgb, 2, 1},
    {"ycc_to_rgb_h2v2_avx2", ycc_to_rgb_h2v2_avx2, nullptr, nullptr, Fmt::Rgb, 2, 2},
    {"ycc_to_bgr_h1v1_avx2", ycc_to_bgr_h1v1_avx2, nullptr, nullptr, Fmt::Bgr, 1, 1},
    {"ycc_to_bgr_h2v1_avx2", ycc_to_bgr_h2v1_avx2, nullptr, nullptr, Fmt::Bgr, 2, 1},
    {"ycc_to_bgr_h2v2_avx2", ycc_to_bgr_h2v2_avx2, nullptr, nullptr, Fmt::Bgr, 2, 2},
};
#else
const Slot kSlots[] = {{"none", nullptr, nullptr, nullptr, Fmt::Gray, 1, 1}};
const Slot kAvx2Slots[] = {{"none", nullptr, nullptr, nullptr, Fmt::Gray, 1, 1}};
#endif

bool cpu_has_avx2() {
#if defined(QRL_X86_SIMD) && (defined(__GNUC__) || defined(__clang__))
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

int32_t bpp_of(Fmt f) {
    switch (f) {
    case Fmt::Rgb: case Fmt::Bgr: return 3;
    case Fmt::Gray: return 1;
    case Fmt::Packed: return 2;
    default: return 4;
    }
}

int32_t clampi(int32_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// The SIMD rule: red and blue terms without the portable rounding offsets.
void simd_model_pixel(Fmt fmt, int32_t qx, int32_t qy, const int16_t *mcu, int32_t x, int32_t y, uint8_t *out) {
    const int32_t luma = qx * qy;
    const int32_t q = (x >= 8 ? 1 : 0) + (y >= 8 ? qx : 0);
    const int32_t i = 8 * (y % 8) + (x % 8);
    const int32_t cx = qx == 2 ? x >> 1 : x, cy = qy == 2 ? y >> 1 : y;
    const int32_t Y = mcu[64 * q + i], Cb = mcu[64 * luma + 8 * cy + cx], Cr = mcu[64 * luma + 64 + 8 * cy + cx];
    const int32_t K = mcu[64 * luma + 128 + 64 * q + i];
    const int32_t R = clampi(Y + (((16 * Cr) * 5744) >> 16) - 179);
    const int32_t G = clampi(Y - ((88 * Cb + 183 * Cr - 34806) >> 8));
    const int32_t B = clampi(Y + (((16 * Cb) * 7264) >> 16) - 227);
    auto b8 = [](int32_t v) { return static_cast<uint8_t>(v); };
    switch (fmt) {
    case Fmt::Rgb: out[0] = b8(R), out[1] = b8(G), out[2] = b8(B); break;
    case Fmt::Bgr: out[0] = b8(B), out[1] = b8(G), out[2] = b8(R); break;
    case Fmt::Rgba: out[0] = b8(R), out[1] = b8(G), out[2] = b8(B), out[3] = 255; break;
    case Fmt::Cmyk: out[0] = b8(255 - R), out[1] = b8(255 - G), out[2] = b8(255 - B), out[3] = b8(clampi(K)); break;
    case Fmt::Gray: out[0] = b8(clampi(mcu[i])); break;
    case Fmt::Packed: out[0] = b8(Y), out[1] = b8((x & 1) ? Cr : Cb); break;
    }
}

constexpr int32_t kPad = 7;

struct Output {
    int32_t line;
    std::vector<uint8_t> bytes;
};

Output run(const Slot &s, const std::vector<int16_t> &mcu) {
    const int32_t luma = s.qx * s.qy;
    Output o{8 * s.qx * bpp_of(s.fmt) + kPad, {}};
    o.bytes.assign(static_cast<size_t>(o.line) * 8 * s.qy, kPoison);
    const int16_t *c0 = mcu.data(), *c1 = c0 + 64 * luma, *c2 = c1 + 64, *c3 = c2 + 64;
    if (s.simd3) s.simd3(c0, c1, c2, o.bytes.data(), o.line);
    else if (s.simd4) s.simd4(c0, c1, c2, c3, o.bytes.data(), o.line);
    else s.simd1(c0, o.bytes.data(), o.line);
    return o;
}

#define REQUIRE_SIMD_OUTPUT()                                                                      \
    do {                                                                                           \
        if (!cpu_has_sse2() || kSlots[0].simd3 == nullptr) {                                      \
            GTEST_SKIP() << "SSE2 output kernels not built or SSE2 not available";                 \
        }                                                                                          \
    } while (0)

// Sets A to D carry one SSE2 kernel per output slot that has one (the list
// above); the interleaving kernels stay portable.
TEST(OutputSimd, SetsCarryTheSse2Twins) {
    REQUIRE_SIMD_OUTPUT();
#ifdef QRL_X86_SIMD
    const KERNEL_TABLE &p = kernel_set_table(KernelSet::Portable);
    for (KernelSet set : kSimdSets) {
        const KERNEL_TABLE &t = kernel_set_table(set);
        EXPECT_EQ(t.put_gray_8x8, put_gray_8x8_sse2);
        EXPECT_EQ(t.ycc_to_packed422, ycc_to_packed422_sse2);
        const Put3Fn put3[] = {t.ycc_to_rgb_h1v1, t.ycc_to_rgb_h2v1, t.ycc_to_rgb_h2v2,
                               t.ycc_to_bgr_h1v1, t.ycc_to_bgr_h2v1, t.ycc_to_bgr_h2v2,
                               t.ycc_to_rgba_h1v1, t.ycc_to_rgba_h2v1, t.ycc_to_rgba_h2v2};
        // Set D holds the AVX2 twins of the six 3-byte converters where the
        // processor has AVX2.
        const bool avx2 = set == KernelSet::D && cpu_has_avx2();
        for (size_t i = 0; i < 9; ++i)
            EXPECT_EQ(put3[i], avx2 && i < 6 ? kAvx2Slots[i].simd3 : kSlots[i].simd3) << kSlots[i].name;
        EXPECT_EQ(t.ycck_to_cmyk_h1v1, ycck_to_cmyk_h1v1_sse2);
        EXPECT_EQ(t.ycck_to_cmyk_h2v1, ycck_to_cmyk_h2v1_sse2);
        EXPECT_EQ(t.ycck_to_cmyk_h2v2, ycck_to_cmyk_h2v2_sse2);
        EXPECT_EQ(t.interleave3_h1v1, p.interleave3_h1v1);
        EXPECT_EQ(t.interleave3_h2v1, p.interleave3_h2v1);
        EXPECT_EQ(t.interleave3_h2v2, p.interleave3_h2v2);
        EXPECT_EQ(t.interleave3_alpha_h1v1, p.interleave3_alpha_h1v1);
        EXPECT_EQ(t.interleave4_h1v1, p.interleave4_h1v1);
    }
#endif
}

TEST(OutputSimd, MatchTheModelOfTheirArithmeticAndWriteNothingElse) {
    REQUIRE_SIMD_OUTPUT();
    std::vector<Slot> slots(std::begin(kSlots), std::end(kSlots));
    if (cpu_has_avx2()) slots.insert(slots.end(), std::begin(kAvx2Slots), std::end(kAvx2Slots));
    {
        for (const Slot &s : slots) {
            for (uint32_t seed = 1; seed <= 20; ++seed) {
                const auto mcu = qrl_test::random_blocks(seed, 2 * s.qx * s.qy + 2);
                const Output o = run(s, mcu);
                const int32_t bpp = bpp_of(s.fmt);
                for (int32_t y = 0; y < 8 * s.qy; ++y) {
                    for (int32_t x = 0; x < 8 * s.qx; ++x) {
                        uint8_t want[4];
                        simd_model_pixel(s.fmt, s.qx, s.qy, mcu.data(), x, y, want);
                        for (int32_t b = 0; b < bpp; ++b)
                            ASSERT_EQ(o.bytes[static_cast<size_t>(y * o.line + x * bpp + b)], want[b])
                                << s.name << " x=" << x << " y=" << y << " byte " << b;
                    }
                    for (int32_t p = 0; p < kPad; ++p)
                        ASSERT_EQ(o.bytes[static_cast<size_t>(y * o.line + 8 * s.qx * bpp + p)], kPoison) << s.name;
                }
            }
        }
    }
}

// Every (Cb, Cr) pair through ycc_to_rgb_h1v1 of set A and the portable set,
// at several Y values so that clamping hides no difference.
TEST(OutputSimd, OnlyRedAndBlueDifferAndOnlyForTheDocumentedValues) {
    REQUIRE_SIMD_OUTPUT();
    const Put3Fn simd = kSlots[0].simd3;
    const Put3Fn port = ycc_to_rgb_h1v1;
    std::set<int32_t> red_lower, blue_lower;
    std::vector<int16_t> mcu(3 * 64);
    for (int32_t y : {0, 100, 128, 250}) {
        for (int32_t pair = 0; pair < 256 * 256; pair += 64) {
            for (int32_t i = 0; i < 64; ++i) {
                mcu[static_cast<size_t>(i)] = static_cast<int16_t>(y);
                mcu[static_cast<size_t>(64 + i)] = static_cast<int16_t>((pair + i) & 255);
                mcu[static_cast<size_t>(128 + i)] = static_cast<int16_t>((pair + i) >> 8);
            }
            uint8_t a[8 * 24], b[8 * 24];
            simd(mcu.data(), mcu.data() + 64, mcu.data() + 128, a, 24);
            port(mcu.data(), mcu.data() + 64, mcu.data() + 128, b, 24);
            for (int32_t i = 0; i < 64; ++i) {
                const int32_t cb = (pair + i) & 255, cr = (pair + i) >> 8;
                const uint8_t *ps = a + 3 * i, *pp = b + 3 * i;
                ASSERT_EQ(ps[1], pp[1]) << "green differs for Cb " << cb << " Cr " << cr;
                ASSERT_LE(pp[0] - ps[0], 1);
                ASSERT_GE(pp[0] - ps[0], 0);
                ASSERT_LE(pp[2] - ps[2], 1);
                ASSERT_GE(pp[2] - ps[2], 0);
                if (pp[0] != ps[0]) red_lower.insert(cr);
                if (pp[2] != ps[2]) blue_lower.insert(cb);
            }
        }
    }
    EXPECT_EQ(red_lower, (std::set<int32_t>{67, 72, 77, 82, 154, 159, 164, 169, 241, 246, 251}));
    EXPECT_EQ(blue_lower.size(), 174u);
}

TEST(OutputSimd, DocumentedExamples) {
    REQUIRE_SIMD_OUTPUT();
    const Put3Fn simd = kSlots[0].simd3;
    const Put3Fn port = ycc_to_rgb_h1v1;
    struct Example {
        int16_t y, cb, cr;
        uint8_t simd_rgb[3], portable_rgb[3];
    };
    const Example examples[] = {
        {100, 128, 67, {14, 0, 100}, {15, 0, 100}},
        {250, 1, 128, {250, 0, 24}, {250, 0, 25}},
        {128, 128, 128, {128, 129, 128}, {128, 129, 128}},
    };
    for (const Example &e : examples) {
        std::vector<int16_t> mcu(3 * 64);
        for (int32_t i = 0; i < 64; ++i) mcu[static_cast<size_t>(i)] = e.y, mcu[static_cast<size_t>(64 + i)] = e.cb,
                                         mcu[static_cast<size_t>(128 + i)] = e.cr;
        uint8_t a[8 * 24], b[8 * 24];
        simd(mcu.data(), mcu.data() + 64, mcu.data() + 128, a, 24);
        port(mcu.data(), mcu.data() + 64, mcu.data() + 128, b, 24);
        EXPECT_EQ(a[0], e.simd_rgb[0]);
        EXPECT_EQ(a[2], e.simd_rgb[2]);
        EXPECT_EQ(b[0], e.portable_rgb[0]);
        EXPECT_EQ(b[2], e.portable_rgb[2]);
        EXPECT_EQ(a[1], b[1]);
        if (e.y == 128) {
            EXPECT_EQ(std::vector<uint8_t>(a, a + 3), (std::vector<uint8_t>{128, 129, 128}));
        }
    }
}

} // namespace
